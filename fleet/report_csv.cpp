// The csv form. Each field's control bytes are shown as the table shows
// them and a field a spreadsheet would run as a formula is defused, here,
// where the field is written.
#include "fleet/report_csv.h"

#include <algorithm>

#include "fleet/row_text.h"
#include "fleet/row_warnings.h"
#include "fleet/shown_text.h"

namespace fleet {
namespace {

// Columns added since come after "error", at the end: scripts that read the
// earlier ones by their place keep working.
const std::vector<std::string> CSV_TITLES = {
    "input",           "kit",             "manufacturer",    "product",          "serial",
    "sku",             "uuid",            "bios_version",    "string2",
    "family",          "baseboard_manufacturer", "baseboard_product", "hardware_ids", "scripts",
    "messages",        "status",          "segments_scripts", "segments_messages", "segments_status",
    "warnings",        "rollout",         "record",          "record_time",      "record_script",
    "record_ran",      "record_message",  "error",           "kit_sha256"};
const size_t CSV_ERROR = std::find(CSV_TITLES.begin(), CSV_TITLES.end(), "error") - CSV_TITLES.begin();


// The present IDs, "HardwareID-0=...; HardwareID-1=...", for a CSV cell.
std::string IdsText(const FleetRow &row) {
  std::string text;
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
    if (!row.facts.hardware_ids.Present[i]) continue;
    text += (text.empty() ? "" : "; ") + HardwareIdName(i) + "=" + HardwareIdText(row.facts.hardware_ids, i);
  }
  return text;
}

struct CsvForm {
  std::ostream *out;
};

void *Begin(const FormStart &start) {
  *start.out << CsvRecord(CSV_TITLES) << "\r\n";
  return new CsvForm{start.out};
}

void Add(void *state, const FleetRow &row) {
  *static_cast<CsvForm *>(state)->out << CsvRecord(CsvFields(row)) << "\r\n";
}

void Finish(void *, const FormEnd &) {}

void Release(void *state) { delete static_cast<CsvForm *>(state); }

}  // namespace

const ReportForm CSV_FORM = {Begin, Add, Finish, Release};

std::string CsvField(const std::string &text) {
  // Control bytes as the table shows them: a NUL or an ESC from a record
  // or the data would otherwise reach whatever opens the file, raw.
  std::string field = Cell(text);
  if (field.empty()) return field;
  // A spreadsheet reads a cell that begins with one of these as a formula.
  // A leading '-' is left alone unless a call or a link could follow it:
  // BIOS versions such as "-[A3E148AUS-1.07]-" begin with one and are text
  // to every spreadsheet, and arithmetic alone reaches nothing outside.
  char first = field.front();
  bool formula = first == '=' || first == '+' || first == '@' || first == '\t' || first == '\r' ||
                 (first == '-' && field.find_first_of("(|!=+@") != std::string::npos);
  return formula ? "'" + field : field;
}

std::string CsvRecord(const std::vector<std::string> &fields) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) record += ',';
    const std::string field = CsvField(fields[i]);
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      record += field;
      continue;
    }
    record += '"';
    for (char c : field) {
      if (c == '"') record += '"';
      record += c;
    }
    record += '"';
  }
  return record;
}

const std::vector<std::string> &CsvTitles() { return CSV_TITLES; }

std::vector<std::string> CsvFields(const FleetRow &row) {
  if (!row.error.empty()) {
    std::vector<std::string> fields(CSV_TITLES.size());
    fields.front() = row.input;
    fields[CSV_ERROR] = row.error;
    return fields;
  }
  // The runs' columns hold the one kit's runs; with none or several they
  // stay empty (several: each kit's outcome is in its warning).
  std::vector<std::string> runs(6);
  if (row.kits.size() == 1) {
    runs = {JoinTexts(row.run.scripts, "; "),      JoinTexts(row.run.messages, "; "),
            StatusText(row.run.status),       JoinTexts(row.segments.scripts, "; "),
            JoinTexts(row.segments.messages, "; "), StatusText(row.segments.status)};
  }
  const MachineFacts &facts = row.facts;
  const BiosVersionFacts &bios = FirstBios(facts);
  std::vector<std::string> fields = {row.input,     KitsText(row),      facts.manufacturer,
                                     facts.product, facts.serial,       facts.sku,
                                     facts.uuid,    bios.field_string,  bios.string2,
                                     facts.hwid_field[HWID_FAMILY],
                                     facts.hwid_field[HWID_BASEBOARD_MANUFACTURER],
                                     facts.hwid_field[HWID_BASEBOARD_PRODUCT], IdsText(row)};
  fields.insert(fields.end(), runs.begin(), runs.end());
  fields.push_back(JoinTexts(WarningSentences(row), "; "));
  fields.push_back(row.rollout);
  const RecordSummary &record = row.record;
  bool has = row.has_record;
  std::vector<std::string> recorded = {has ? record.where : "", has ? record.time : "",
                                       has ? record.script : "",
                                       has ? (record.ran ? "true" : "false") : "",
                                       has ? record.message : ""};
  fields.insert(fields.end(), recorded.begin(), recorded.end());
  fields.push_back("");
  fields.push_back(row.kit_sha256);
  return fields;
}

}  // namespace fleet
