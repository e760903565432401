// The fleet report as one HTML page, for a person deciding whether a
// rollout may go: a header line (options, kits, when, version), totals, a
// bar per kit split by outcome, the spread of installed BIOS versions per
// product, the warnings, the records that matched no machine, and a table
// of every machine that filters, sorts and saves what it shows as CSV. The
// page is self-contained (its skeleton, style, script and charts are
// inline; it fetches nothing) and opens from disk.
//
// The machines' data sits in the page as one JSON text inside
// <script type="application/json">, with every text from the data, a kit
// or a path kept in a string table and the rows holding indices into it.
// The data names its columns once and every row is an array in their
// order, so the script finds each field by its name and 10,000 machines
// stay within a few megabytes. The page's script draws
// everything from that data and only ever sets text nodes, so no text from
// the data is ever read as markup. Escaping happens here, once, where a
// text joins the page's JSON.
#pragma once

#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/report_form.h"

namespace fleet {

// `json` made safe to stand inside a <script> element: '<', '>', '&',
// DEL, U+2028 and U+2029 as \u escapes. Only valid outside JSON strings
// where none of them can appear, so the JSON value is unchanged.
std::string ScriptSafeJson(const std::string &json);

// The html form: a PageWriter behind the form's entry points.
extern const ReportForm PAGE_FORM;

// What a page's row holds: single values, and lists. Each column of the
// page's data is one of them, under a name of its own.
enum PageValue {
  PAGE_INPUT, PAGE_MANUFACTURER, PAGE_PRODUCT, PAGE_BIOS_VERSION, PAGE_STRING2, PAGE_ERROR,
  // With records: rollout state, then the latest record's place, time,
  // script, ran (0 or 1, -1 without a record), status and message.
  PAGE_ROLLOUT, PAGE_RECORD_WHERE, PAGE_RECORD_TIME, PAGE_RECORD_SCRIPT, PAGE_RECORD_RAN,
  PAGE_RECORD_STATUS, PAGE_RECORD_MESSAGE,
  // Serial number, SKU, UUID, and the input that holds the same machine
  // first.
  PAGE_SERIAL, PAGE_SKU, PAGE_UUID, PAGE_SAME_AS,
  PAGE_VALUE_COUNT
};
enum PageList {
  PAGE_RUNS,      // per kit, the run columns (PAGE_RUN_COLUMNS in report_page.cpp)
  PAGE_WARNINGS,  // per warning, key and sentence
  // The row's CSV fields, as --format csv writes them before quoting, so
  // the page saves the rows it shows in that very form.
  PAGE_CSV,
  // The hardware-ID fields (in the order of HardwareIdField), then the
  // fifteen IDs.
  PAGE_HWIDS,
  PAGE_LIST_COUNT
};

// Collects the rows, then writes the whole page at Finish(): the page is
// made complete in memory first, so a report that stops early leaves no
// half a page behind.
class PageWriter {
 public:
  // `records`: the rows carry rollout states (--records), and the page
  // shows them.
  PageWriter(const std::vector<KitInfo> &kits, std::ostream &out, bool records = false);
  void SetHeader(const PageHeader &header) { header_ = header; }
  // Records that matched no machine: how many, and the first few as lines.
  void SetUnmatched(const std::vector<std::string> &lines, size_t count);
  void Add(const FleetRow &row);
  void Finish();

  // The page's data as JSON (before ScriptSafeJson), for tests.
  std::string DataJson() const;

 private:
  // A text's index in the string table: Text() for a text from the data,
  // Shown() for one already as the page shows it.
  int Text(const std::string &text);
  int Shown(const std::string &shown);
  int OptionalText(bool has, const std::string &text);
  int KitIndex(const std::string &folder);
  void AddRun(int kit, const RunOutcome &run, const RunOutcome &segments, std::vector<int> *runs);

  std::vector<KitInfo> kits_;
  size_t given_kits_;  // the report's own kits; kits_ may grow past them
  bool records_;
  std::ostream &out_;
  std::vector<std::string> texts_;
  std::unordered_map<std::string, int> text_index_;
  // One entry per row: a text index (-1 for none) or a number for each
  // value, and the lists, as the page's columns (report_page.cpp) name them.
  struct PageRow {
    int values[PAGE_VALUE_COUNT];
    std::vector<int> lists[PAGE_LIST_COUNT];
  };
  std::vector<PageRow> rows_;
  std::vector<std::string> warning_keys_;  // in the order the page lists them
  PageHeader header_;
  std::vector<std::string> unmatched_;
  size_t unmatched_count_ = 0;
};

}  // namespace fleet
