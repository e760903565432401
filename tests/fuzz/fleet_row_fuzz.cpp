// One fleet row from arbitrary bytes. The first byte chooses the form: a
// dump image as it is, or a sysfs copy whose entry point is the next
// (second byte mod 40) bytes and whose DMI file is the rest; one input in
// eight goes through real files and the loader's own reading. The row is
// made with both runs and the facts, then written in all three forms.
//
// Checked on every input: loading and the row never crash or read outside
// the data (the table lies before an unmapped page); a row is either an
// error row or two complete runs; every warning has a known key; the JSON
// form reads back to the same row shape; a CSV record holds no line end
// outside quotes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/report_writer.h"
#include "fleet/row_codec.h"
#include "fleet/row_warnings.h"
#include "fuzz_check.h"
#include "sim/smbios_input.h"

namespace {

const fleet::FleetSettings &Settings() {
  static fleet::FleetSettings settings = [] {
    char pattern[] = "/tmp/fuzz-fleet-XXXXXX";
    fleet::FleetSettings made;
    fleet::KitInfo kit;
    kit.folder = mkdtemp(pattern);
    std::ofstream(kit.folder + "/UpdateConfig.ini") << "ProductName=Fuzz\r\nVersion=1.2.3\r\n";
    kit.has_product_name = true;
    kit.product_name = "Fuzz";
    kit.has_version = true;
    kit.version = "1.2.3";
    made.kits = {kit};
    made.args = {"-v"};
    return made;
  }();
  return settings;
}

bool KnownKey(const std::string &key) {
  for (size_t i = 0; i < fleet::WARNING_KIND_COUNT; ++i) {
    if (key == fleet::WARNING_KINDS[i].key) return true;
  }
  return false;
}

// No CR or LF outside a quoted field.
bool CsvLineEndsQuoted(const std::string &record) {
  bool quoted = false;
  for (char c : record) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\r' || c == '\n')) return false;
  }
  return !quoted;
}

void Write(const std::string &path, const uint8_t *data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const fleet::FleetSettings &settings = Settings();
  uint8_t form = data[0];
  const uint8_t *rest = data + 1;
  size_t left = size - 1;

  fleet::FleetRow row;
  if (form % 8 == 7) {
    // Through files: the loader reads what the admin's copy holds.
    std::string folder = settings.kits.front().folder + "/machine";
    std::filesystem::create_directories(folder);
    size_t entry = rest[0] % 40u < left - 1 ? rest[0] % 40u : left - 1;
    Write(folder + "/smbios_entry_point", rest + 1, entry);
    Write(folder + "/DMI", rest + 1 + entry, left - 1 - entry);
    row = fleet::MakeFleetRow(folder, settings);
    FUZZ_CHECK(row.input == folder, "the row names its input");
  } else if (form % 2 == 1) {
    size_t entry = rest[0] % 40u < left - 1 ? rest[0] % 40u : left - 1;
    std::vector<uint8_t> entry_point(rest + 1, rest + 1 + entry);
    std::vector<uint8_t> table(rest + 1 + entry, rest + left);
    std::vector<uint8_t> dump;
    std::string error;
    if (sim::SysfsToDump(entry_point, table, &dump, &error)) {
      FUZZ_CHECK(dump.size() == 32 + table.size(), "the DMI bytes follow a 32-byte entry point");
      FUZZ_CHECK(sim::AnchorOf(dump) != sim::SmbiosAnchor::None, "the anchor is kept");
      row = fleet::MakeFleetRowFromDump("sysfs", dump, settings);
    } else {
      FUZZ_CHECK(!error.empty(), "a refusal says why");
      return 0;
    }
  } else {
    row = fleet::MakeFleetRowFromDump("dump", std::vector<uint8_t>(rest, rest + left), settings);
  }

  if (!row.error.empty()) {
    FUZZ_CHECK(row.run.scripts.empty() && row.warnings.empty(), "an error row holds nothing else");
  } else {
    FUZZ_CHECK(row.run.status != 0 || !row.run.scripts.empty(),
               "a successful run ran a script");
    for (const fleet::Warning &warning : row.warnings) {
      FUZZ_CHECK(KnownKey(warning.key) && !warning.sentence.empty(), warning.key);
    }
  }
  fleet::FleetRow back;
  FUZZ_CHECK(fleet::RowFromJson(fleet::RowToJson(row), &back), fleet::RowToJson(row));
  FUZZ_CHECK(back.error.empty() == row.error.empty() && back.warnings.size() == row.warnings.size() &&
                 back.run.status == row.run.status && back.segments.status == row.segments.status,
             "the JSON form reads back to the same row");
  std::ostringstream csv, table;
  fleet::ReportWriter csv_writer(fleet::Format::Csv, csv);
  csv_writer.Add(row);
  csv_writer.Finish();
  std::string text = csv.str();
  size_t header_end = text.find("\r\n");
  std::string record = text.substr(header_end + 2, text.size() - header_end - 4);
  FUZZ_CHECK(CsvLineEndsQuoted(record), record);
  fleet::ReportWriter table_writer(fleet::Format::Table, table);
  table_writer.Add(row);
  table_writer.Finish();
  FUZZ_CHECK(table.str().find('\r') == std::string::npos, "the table shows no raw CR");
  // The page: whatever the strings hold, its data cannot end its <script>
  // element or open another.
  std::ostringstream html;
  fleet::ReportWriter page_writer(fleet::Format::Html, html);
  page_writer.Add(row);
  page_writer.Finish();
  std::string page = html.str();
  size_t scripts = 0;
  for (size_t at = page.find("<script"); at != std::string::npos; at = page.find("<script", at + 1)) {
    ++scripts;
  }
  FUZZ_CHECK(scripts == 2, "the page holds its own two script elements and no other");
  return 0;
}
