// What every form of the report (table, csv, json, the page) is: three
// entry points on a state of its own. Each form is one unit that turns a
// row into its form, escaping at that point of output and nowhere else;
// the writer (fleet/report_writer.h) only chooses one.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

namespace fleet {

// What the page's header line says of the report: what a person needs to
// trust it, and to make it again.
struct PageHeader {
  std::string options;  // the image's options every run used
  std::string kits;     // where the kits came from: folders, a library, a medium
  std::string made;     // when, UTC: "2026-03-01 08:30 UTC"
  std::string version;  // the report's own (FLEET_VERSION)
};

// What a form is given before the first row.
struct FormStart {
  std::ostream *out;
  // The report's kits, for the summaries per kit.
  std::vector<KitInfo> kits;
  // The rows carry rollout states (--records).
  bool records = false;
};

// What a form is given at the end, once every row is known.
struct FormEnd {
  PageHeader header;
  // Records that matched no machine: how many, and lines of text (where,
  // and what they name; the first few).
  std::vector<std::string> unmatched;
  size_t unmatched_count = 0;
};

// A form's entry points. Begin makes the form's state and writes what
// comes before the rows; Add takes one row, in input order; Finish writes
// what comes after them; Release frees the state.
struct ReportForm {
  void *(*Begin)(const FormStart &start);
  void (*Add)(void *form, const FleetRow &row);
  void (*Finish)(void *form, const FormEnd &end);
  void (*Release)(void *form);
};

}  // namespace fleet
