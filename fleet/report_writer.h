// Writing the fleet report in the form asked for, as the rows arrive:
//   table  aligned columns, then a summary (fleet/report_table.h);
//   csv    RFC 4180 with a header line (fleet/report_csv.h);
//   json   an array, one object per input, in input order (fleet/report_json.h);
//   html   one page for a person to look at (fleet/report_page.h), written
//          whole at the end: it keeps every row, in a compact form.
// The forms are peers with the same entry points; the writer chooses one.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/report_form.h"

namespace fleet {

enum class Format { Table, Csv, Json, Html };

class ReportWriter {
 public:
  // `kits` are the report's kits, for the summaries per kit. With
  // `records` the rows carry rollout states (--records): the table shows
  // them in a column of their own and counts them per kit.
  ReportWriter(Format format, std::ostream &out, const std::vector<KitInfo> &kits = {},
               bool records = false);
  ~ReportWriter();
  ReportWriter(const ReportWriter &) = delete;
  ReportWriter &operator=(const ReportWriter &) = delete;

  void Add(const FleetRow &row);
  // Records that matched no machine: how many, and lines of text (where,
  // and what they name; the first few) for the summaries; before Finish.
  void SetUnmatched(const std::vector<std::string> &unmatched, size_t count);
  // The page's header line (the html form only); before Finish.
  void SetPageHeader(const PageHeader &header);
  void Finish();

 private:
  const ReportForm *form_;
  void *state_;
  std::ostream &out_;
  FormEnd end_;
};

}  // namespace fleet
