// The fleet report's three forms, written as the rows arrive:
//   json   an array, one object per input, in input order;
//   csv    RFC 4180 with a header line, lists joined with "; ";
//   table  aligned columns, then a summary of outcomes, messages and
//          warnings;
//   html   one page for a person to look at (fleet/report_page.h), written
//          whole at the end: it keeps every row, in a compact form.
// Memory stays flat with the number of rows: json and csv keep nothing, the
// table keeps the first TABLE_SAMPLE_ROWS rows to size its columns (later
// rows that are wider overflow their column) and counts for the summary.
#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/report_page.h"

namespace fleet {

enum class Format { Table, Csv, Json, Html };

constexpr size_t TABLE_SAMPLE_ROWS = 1000;

// One row as the json form writes it, on one line; worker processes hand
// rows over in it too. Strings that are not UTF-8 have their bad bytes
// replaced.
std::string RowToJson(const FleetRow &row);
// Reads back what RowToJson wrote; false when the text is not such a row.
bool RowFromJson(const std::string &text, FleetRow *row);

// Rows as worker processes hand them over: the json form's content in a
// binary encoding that keeps every byte of every text, so a row reads the
// same whichever process made it.
std::string RowToTransport(const FleetRow &row);
bool RowFromTransport(const std::string &bytes, FleetRow *row);

// A text from the data as the table and the page show it: control
// characters (C1 included) as \xHH, so it cannot drive a terminal and
// stays visible on the page; bytes that are not UTF-8 as U+FFFD.
std::string Cell(const std::string &text);

// `text` with each byte that begins no UTF-8 character as U+FFFD.
std::string ValidUtf8(const std::string &text);

// One CSV field as the report writes it, before quoting: UTF-8 with its
// control characters as \xHH (as Cell shows them), and a leading ' before
// a text a spreadsheet would take for a formula (one that begins with =,
// +, @, or with - when a call or link follows).
std::string CsvField(const std::string &text);
// One CSV record (no line end) of the given fields.
std::string CsvRecord(const std::vector<std::string> &fields);
// The CSV form's column titles, and a row's fields under them (before
// CsvField): the one account of what the CSV holds, which the page's
// "save as CSV" writes too.
const std::vector<std::string> &CsvTitles();
std::vector<std::string> CsvFields(const FleetRow &row);

class ReportWriter {
 public:
  // `kits` are the report's kits, for the table's summary per kit. With
  // `records` the rows carry rollout states (--records): the table shows
  // them in a column of their own and counts them per kit.
  ReportWriter(Format format, std::ostream &out, const std::vector<KitInfo> &kits = {},
               bool records = false);
  void Add(const FleetRow &row);
  // Records that matched no machine: how many, and lines of text (where,
  // and what they name; the first few) for the summaries; before Finish.
  void SetUnmatched(const std::vector<std::string> &unmatched, size_t count);
  // The page's header line (the html form only).
  void SetPageHeader(const PageHeader &header);
  void Finish();

 private:
  void PrintTableRow(const std::vector<std::string> &cells);
  void CountKits(const FleetRow &row);
  void PrintKitSummary();
  void FlushSample();

  Format format_;
  std::ostream &out_;
  std::unique_ptr<PageWriter> page_;  // the html form
  size_t rows_ = 0;
  size_t errors_ = 0;
  // Table state.
  std::vector<std::vector<std::string>> sample_;
  std::vector<size_t> widths_;
  bool sized_ = false;
  std::map<std::string, size_t> outcomes_, segment_outcomes_, messages_, warnings_;
  std::vector<KitInfo> kits_;
  // Per kit (index into kits_): machines it serves, and per ScriptsOutcome.
  std::vector<size_t> kit_machines_;
  std::vector<std::map<std::string, size_t>> kit_outcomes_;
  size_t without_kit_ = 0;
  // Rollout: whether records were read, the states per kit, and the
  // records that matched no machine.
  bool records_ = false;
  std::vector<std::map<std::string, size_t>> kit_states_;
  std::vector<std::string> unmatched_;
  size_t unmatched_count_ = 0;
  size_t repeats_ = 0;  // rows of a machine an earlier row holds: listed, not counted
};

}  // namespace fleet
