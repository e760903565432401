// A records file from arbitrary bytes, read as the fleet report reads the
// files a rollout brings back, then joined to a machine named by the first
// record and written out in the report's forms.
//
// Checked on every input: reading never crashes or runs away; every line
// is a record or a damaged line, never both, the damaged ones warned of
// in line order up to the limit and counted past it; each record's line
// parses again on its own; the machine
// named by a record finds a record, and its state is one of the four or
// none; the JSON form of the row reads back with the same record; a CSV
// record holds no line end outside quotes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/report_writer.h"
#include "fleet/row_codec.h"
#include "fleet/rollout_records.h"
#include "fuzz_check.h"

namespace {

// The file's lines as the reader splits them: at LF, CR before it dropped.
std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool CsvLineEndsQuoted(const std::string &record) {
  bool quoted = false;
  for (char c : record) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\r' || c == '\n')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::istringstream in(text);
  fleet::RecordSet set;
  set.Read("f.jsonl", in);
  std::vector<std::string> lines = Lines(text);

  // Each non-empty line once: as a record (lines naming one machine alike
  // count in its copies) or as a damaged line, the first ones warned of
  // by name and in order, the rest counted in one last warning.
  size_t parsed = 0, damaged = 0;
  std::vector<std::string> named;
  for (size_t number = 1; number <= lines.size(); ++number) {
    const std::string &line = lines[number - 1];
    if (line.empty()) continue;
    fleet::RolloutRecord again;
    std::string why;
    if (line.size() <= fleet::RECORD_LINE_LIMIT && fleet::ParseRecordLine(line, &again, &why)) {
      ++parsed;
    } else if (++damaged <= fleet::RECORD_WARNING_LIMIT) {
      named.push_back("f.jsonl:" + std::to_string(number) + ": ");
    }
  }
  size_t copies = 0;
  for (const fleet::RolloutRecord &record : set.Records()) {
    copies += record.copies;
    // Read from "f.jsonl:LINE".
    size_t line = std::strtoul(record.summary.where.c_str() + 8, nullptr, 10);
    FUZZ_CHECK(record.summary.where == "f.jsonl:" + std::to_string(line) && line >= 1 &&
                   line <= lines.size(),
               "a record of a line not there: " + record.summary.where);
    fleet::RolloutRecord again;
    std::string why;
    FUZZ_CHECK(fleet::ParseRecordLine(lines[line - 1], &again, &why),
               "a record whose line does not parse: " + why);
  }
  FUZZ_CHECK(copies == parsed, "records for lines the file does not hold, or lines lost");
  std::vector<std::string> warnings = set.Warnings();
  FUZZ_CHECK(warnings.size() == named.size() + (damaged > named.size() ? 1 : 0),
             "warnings for lines that are records, or damaged lines not told");
  for (size_t i = 0; i < named.size() && i < warnings.size(); ++i) {
    FUZZ_CHECK(warnings[i].compare(0, named[i].size(), named[i]) == 0, "warnings out of order");
  }
  if (set.Records().empty()) return 0;

  // The machine the first record names finds a record.
  const fleet::RolloutRecord &first = set.Records().front();
  fleet::FleetRow row;
  row.input = "machine";
  row.facts.has_uuid = first.has_uuid;
  row.facts.uuid = first.uuid;
  row.facts.has_serial = first.has_serial;
  row.facts.serial = first.serial;
  row.facts.has_product = first.has_product;
  row.facts.product = first.product;
  fleet::KitRuns kit;
  kit.kit = "kit";
  kit.run.scripts = {(size & 1) != 0 ? "UpdateHWOld.nsh" : "UpdateHWNew.nsh"};
  row.kits = {kit};
  row.run = kit.run;
  bool joinable = first.has_uuid || (first.has_serial && first.has_product &&
                                      fleet::SerialTellsMachinesApart(first.serial));
  fleet::ApplyRecords(&set, &row);
  FUZZ_CHECK(row.has_record || !joinable, "the machine a record names found none");
  bool known = row.rollout.empty();
  for (const char *state : fleet::ROLLOUT_STATES) known = known || row.rollout == state;
  FUZZ_CHECK(known, "unknown state " + row.rollout);

  // The row's forms.
  fleet::FleetRow back;
  FUZZ_CHECK(fleet::RowFromJson(fleet::RowToJson(row), &back), "the JSON form does not read back");
  FUZZ_CHECK(back.has_record == row.has_record && back.record.where == row.record.where &&
                 back.record.ran == row.record.ran && back.rollout == row.rollout,
             "the record does not read back");
  std::ostringstream csv;
  fleet::ReportWriter writer(fleet::Format::Csv, csv, {}, true);
  writer.Add(row);
  writer.Finish();
  std::string out = csv.str();
  size_t header_end = out.find("\r\n");
  std::string record_line = out.substr(header_end + 2, out.size() - header_end - 4);
  FUZZ_CHECK(CsvLineEndsQuoted(record_line), "a line end outside quotes in the CSV record");
  return 0;
}
