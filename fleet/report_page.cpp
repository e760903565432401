// Writing the fleet report's page. Texts are shown as the table shows them
// (control bytes as \xHH, so they stay visible and move nothing), their
// bytes that are not UTF-8 replaced by nlohmann-json's dump, and the whole
// JSON text escaped for a <script> element. Nothing from the data goes
// anywhere else in the page: the markup around it is fixed.
#include "fleet/report_page.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include "app/file_names.h"
#include "fleet/report_csv.h"
#include "fleet/report_page_assets.h"
#include "fleet/row_text.h"
#include "fleet/row_warnings.h"
#include "fleet/shown_text.h"

namespace fleet {
namespace {

using Json = nlohmann::json;

// A run's messages as the page shows them: one per line. A line end within
// a message is \x0A by then, so the lines stay apart.
std::string JoinLines(const std::vector<std::string> &lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + Cell(lines[i]);
  return text;
}

// The places report_page.html holds, once each and in this order, for the
// style sheet, the page's JSON and the script. The skeleton's
// Content-Security-Policy refuses every request a page could make: the
// page is one file, and a text from the data that did become markup could
// still fetch nothing.
const char *const PLACES[] = {"@STYLE@", "@DATA@", "@SCRIPT@"};

void *Begin(const FormStart &start) { return new PageWriter(start.kits, *start.out, start.records); }

void Add(void *form, const FleetRow &row) { static_cast<PageWriter *>(form)->Add(row); }

void Finish(void *state, const FormEnd &end) {
  PageWriter *page = static_cast<PageWriter *>(state);
  page->SetHeader(end.header);
  page->SetUnmatched(end.unmatched, end.unmatched_count);
  page->Finish();
}

void Release(void *form) { delete static_cast<PageWriter *>(form); }

// The page's columns, each a value or a list of a row (report_page.h),
// named once here: the data lists the names, and the script finds each
// column by its name.
struct PageColumn {
  const char *name;
  bool list;
  int index;  // a PageValue or a PageList
  bool records_only;
};
const PageColumn PAGE_COLUMNS[] = {
    {"input", false, PAGE_INPUT, false},
    {"manufacturer", false, PAGE_MANUFACTURER, false},
    {"product", false, PAGE_PRODUCT, false},
    {"bios_version", false, PAGE_BIOS_VERSION, false},
    {"string2", false, PAGE_STRING2, false},
    {"error", false, PAGE_ERROR, false},
    {"runs", true, PAGE_RUNS, false},
    {"warnings", true, PAGE_WARNINGS, false},
    {"rollout", false, PAGE_ROLLOUT, true},
    {"record_where", false, PAGE_RECORD_WHERE, true},
    {"record_time", false, PAGE_RECORD_TIME, true},
    {"record_script", false, PAGE_RECORD_SCRIPT, true},
    {"record_ran", false, PAGE_RECORD_RAN, true},
    {"record_status", false, PAGE_RECORD_STATUS, true},
    {"record_message", false, PAGE_RECORD_MESSAGE, true},
    {"serial", false, PAGE_SERIAL, false},
    {"sku", false, PAGE_SKU, false},
    {"uuid", false, PAGE_UUID, false},
    {"same_as", false, PAGE_SAME_AS, false},
    {"csv", true, PAGE_CSV, false},
    {"hwids", true, PAGE_HWIDS, false},
};
static_assert(sizeof(PAGE_COLUMNS) / sizeof(PAGE_COLUMNS[0]) == PAGE_VALUE_COUNT + PAGE_LIST_COUNT,
              "every value and list of a row is a column");

// A run (as AddRun lists it), and a warning, as each takes its places in a
// row's list.
const std::vector<std::string> PAGE_RUN_COLUMNS = {"kit",      "outcome",  "shown",
                                                   "segments", "messages", "segment_messages"};
const std::vector<std::string> PAGE_WARNING_COLUMNS = {"key", "sentence"};
// A kit, as the page lists it: its folder, ProductName= and Version=
// (null without), and its identity (the SHA-256 of its SHA256SUMS; null
// when its folder holds none).
const std::vector<std::string> PAGE_KIT_COLUMNS = {"folder", "product_name", "version", "kit_sha256"};

void AppendNumbers(const std::vector<int> &numbers, std::string *json) {
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i) *json += ',';
    *json += std::to_string(numbers[i]);
  }
}

}  // namespace

const ReportForm PAGE_FORM = {Begin, Add, Finish, Release};

std::string ScriptSafeJson(const std::string &json) {
  static const char HEX[] = "0123456789abcdef";
  std::string safe;
  safe.reserve(json.size() + json.size() / 16);
  for (size_t i = 0; i < json.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(json[i]);
    unsigned code = c;
    // U+2028 and U+2029 are E2 80 A8 and E2 80 A9.
    if (c == 0xE2 && i + 2 < json.size() && static_cast<unsigned char>(json[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(json[i + 2]) & 0xFE) == 0xA8) {
      code = 0x2028 + (static_cast<unsigned char>(json[i + 2]) & 1);
      i += 2;
    } else if (c != '<' && c != '>' && c != '&' && c != 0x7F) {
      safe += json[i];
      continue;
    }
    safe += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) safe += HEX[(code >> shift) & 0xF];
  }
  return safe;
}

PageWriter::PageWriter(const std::vector<KitInfo> &kits, std::ostream &out, bool records)
    : kits_(kits), given_kits_(kits.size()), records_(records), out_(out) {}

int PageWriter::Text(const std::string &text) { return Shown(Cell(text)); }

int PageWriter::Shown(const std::string &shown) {
  auto found = text_index_.find(shown);
  if (found != text_index_.end()) return found->second;
  int index = static_cast<int>(texts_.size());
  texts_.push_back(shown);
  text_index_.emplace(shown, index);
  return index;
}

int PageWriter::OptionalText(bool has, const std::string &text) { return has ? Text(text) : -1; }

// A run under a kit the report was not told of still gets its bar.
int PageWriter::KitIndex(const std::string &folder) {
  for (size_t i = 0; i < kits_.size(); ++i) {
    if (kits_[i].folder == folder) return static_cast<int>(i);
  }
  KitInfo kit;
  kit.folder = folder;
  kits_.push_back(kit);
  return static_cast<int>(kits_.size() - 1);
}

void PageWriter::AddRun(int kit, const RunOutcome &run, const RunOutcome &segments,
                        std::vector<int> *runs) {
  runs->insert(runs->end(), {kit, Text(ScriptsOutcome(run)), Text(OutcomeText(run)),
                             Text(OutcomeText(segments)), Shown(JoinLines(run.messages)),
                             Shown(JoinLines(segments.messages))});
}

void PageWriter::SetUnmatched(const std::vector<std::string> &lines, size_t count) {
  unmatched_ = lines;
  unmatched_count_ = count;
}

void PageWriter::Add(const FleetRow &row) {
  PageRow page_row;
  std::fill(page_row.values, page_row.values + PAGE_VALUE_COUNT, -1);
  int *values = page_row.values;
  std::vector<int> *lists = page_row.lists;
  const MachineFacts &facts = row.facts;
  values[PAGE_SERIAL] = OptionalText(facts.has_serial, facts.serial);
  values[PAGE_SKU] = OptionalText(facts.has_sku, facts.sku);
  values[PAGE_UUID] = OptionalText(facts.has_uuid, facts.uuid);
  values[PAGE_SAME_AS] = OptionalText(!row.same_as.empty(), row.same_as);
  for (const std::string &field : CsvFields(row)) lists[PAGE_CSV].push_back(Shown(CsvField(field)));
  values[PAGE_INPUT] = Text(row.input);
  if (!row.error.empty()) {
    values[PAGE_ERROR] = Text(row.error);
    rows_.push_back(std::move(page_row));
    return;
  }
  const BiosVersionFacts &bios = FirstBios(facts);
  values[PAGE_MANUFACTURER] = OptionalText(facts.has_manufacturer, facts.manufacturer);
  values[PAGE_PRODUCT] = OptionalText(facts.has_product, facts.product);
  values[PAGE_BIOS_VERSION] = OptionalText(bios.has_field_string, bios.field_string);
  values[PAGE_STRING2] = OptionalText(bios.has_string2, bios.string2);
  for (const KitRuns &runs : row.kits) {
    AddRun(KitIndex(runs.kit), runs.run, runs.segments, &lists[PAGE_RUNS]);
  }
  // A report of one kit may hand its rows over without naming the kit:
  // every machine then runs under that kit.
  if (row.kits.empty() && given_kits_ <= 1) {
    AddRun(kits_.empty() ? KitIndex("") : 0, row.run, row.segments, &lists[PAGE_RUNS]);
  }
  for (const Warning &warning : row.warnings) {
    lists[PAGE_WARNINGS].push_back(Text(warning.key));
    lists[PAGE_WARNINGS].push_back(Text(warning.sentence));
    if (std::find(warning_keys_.begin(), warning_keys_.end(), warning.key) == warning_keys_.end()) {
      warning_keys_.push_back(warning.key);
    }
  }
  for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
    lists[PAGE_HWIDS].push_back(OptionalText(facts.has_hwid_field[i], facts.hwid_field[i]));
  }
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
    bool present = facts.hardware_ids.Present[i];
    lists[PAGE_HWIDS].push_back(OptionalText(present, present ? HardwareIdText(facts.hardware_ids, i) : ""));
  }
  if (records_) {
    const RecordSummary &record = row.record;
    bool has = row.has_record;
    values[PAGE_ROLLOUT] = OptionalText(!row.rollout.empty(), row.rollout);
    values[PAGE_RECORD_WHERE] = OptionalText(has, record.where);
    values[PAGE_RECORD_TIME] = OptionalText(has && record.has_time, record.time);
    values[PAGE_RECORD_SCRIPT] = OptionalText(has && record.has_script, record.script);
    values[PAGE_RECORD_RAN] = has ? (record.ran ? 1 : 0) : -1;
    values[PAGE_RECORD_STATUS] = OptionalText(has, record.status);
    values[PAGE_RECORD_MESSAGE] = OptionalText(has && record.has_message, record.message);
  }
  rows_.push_back(std::move(page_row));
}

std::string PageWriter::DataJson() const {
  // The warnings in the report's own order, then any others as they came.
  std::vector<std::string> keys;
  for (size_t i = 0; i < WARNING_KIND_COUNT; ++i) keys.push_back(WARNING_KINDS[i].key);
  keys.erase(std::remove_if(keys.begin(), keys.end(),
                            [&](const std::string &key) {
                              return std::find(warning_keys_.begin(), warning_keys_.end(), key) ==
                                     warning_keys_.end();
                            }),
             keys.end());
  for (const std::string &key : warning_keys_) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  }
  Json warnings = Json::array();
  for (const std::string &key : keys) warnings.push_back({Cell(key), WarningMeaning(key)});

  Json kits = Json::array();
  for (const KitInfo &kit : kits_) {
    kits.push_back({Cell(kit.folder), kit.has_product_name ? Json(Cell(kit.product_name)) : Json(),
                    kit.has_version ? Json(Cell(kit.version)) : Json(),
                    kit.identity.empty() ? Json() : Json(Cell(kit.identity))});
  }
  // The names the IDs' fields go by and the fields each ID joins, from the
  // image's own code.
  Json hwid_fields = Json::array();
  Json hwid_lists = Json::array();
  for (int i = 0; i < HWID_FIELD_COUNT; ++i) hwid_fields.push_back(HardwareIdFieldName(i));
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
    char list[HARDWARE_ID_FIELD_LIST_SIZE];
    ListHardwareIdFields(i, list);
    hwid_lists.push_back(list);
  }
  Json unmatched = Json::array();
  for (const std::string &line : unmatched_) unmatched.push_back(Cell(line));
  Json header = {{"options", Cell(header_.options)}, {"kits", Cell(header_.kits)},
                 {"made", Cell(header_.made)}, {"version", Cell(header_.version)}};
  // The columns every row lists, in this order; the rollout's only with
  // records.
  Json columns = Json::array();
  for (const PageColumn &column : PAGE_COLUMNS) {
    if (records_ || !column.records_only) columns.push_back(column.name);
  }
  Json head = {{"texts", texts_},
               // The outcomes each kit's bar shows first, in this order.
               {"outcomes", {UPDATE_SCRIPT_OLD_NAME, UPDATE_SCRIPT_NEW_NAME, NO_SCRIPT}},
               {"sums_name", KIT_SUMS_NAME},
               {"kits", kits},
               {"warnings", warnings},
               {"records", records_},
               {"header", header},
               {"unmatched", {{"count", unmatched_count_}, {"lines", unmatched}}},
               {"csv_titles", CsvTitles()},
               {"hwidFields", hwid_fields},
               {"hwidLists", hwid_lists},
               {"columns", columns},
               {"run_columns", PAGE_RUN_COLUMNS},
               {"warning_columns", PAGE_WARNING_COLUMNS},
               {"kit_columns", PAGE_KIT_COLUMNS}};
  std::string json = head.dump(-1, ' ', false, Json::error_handler_t::replace);
  // The rows are only numbers: written straight out, without a JSON tree
  // of every row beside the rows themselves.
  json.pop_back();
  json += ",\"rows\":[";
  for (size_t i = 0; i < rows_.size(); ++i) {
    const PageRow &row = rows_[i];
    json += i ? ",[" : "[";
    bool first = true;
    for (const PageColumn &column : PAGE_COLUMNS) {
      if (!records_ && column.records_only) continue;
      if (!first) json += ',';
      first = false;
      if (column.list) {
        json += '[';
        AppendNumbers(row.lists[column.index], &json);
        json += ']';
      } else {
        json += std::to_string(row.values[column.index]);
      }
    }
    json += ']';
  }
  return json + "]}";
}

void PageWriter::Finish() {
  // The places are found in the skeleton alone, before anything is put in:
  // a text from the data that reads like a place stays text.
  const std::string skeleton = PAGE_SKELETON;
  const std::string fills[] = {PAGE_STYLE, ScriptSafeJson(DataJson()), PAGE_SCRIPT};
  std::string page;
  size_t from = 0;
  for (size_t i = 0; i < sizeof(PLACES) / sizeof(PLACES[0]); ++i) {
    size_t at = skeleton.find(PLACES[i], from);
    if (at == std::string::npos) break;
    page.append(skeleton, from, at - from);
    page += fills[i];
    from = at + std::strlen(PLACES[i]);
  }
  page.append(skeleton, from, std::string::npos);
  out_ << page;
  out_.flush();
}

}  // namespace fleet
