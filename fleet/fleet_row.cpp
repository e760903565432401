// Making one fleet row. Both runs go through sim::RunImage, the sequence
// the preview tool runs, so a row and a preview of the same data agree by
// construction; the facts are read from the table the first run's firmware
// published, after the run, with the product's own SMBIOS functions.
#include "fleet/fleet_row.h"

#include <cstdio>

#include "app/options.h"
#include "app/shown_text.h"
#include "app/version_segments.h"
#include "fleet/machine_facts.h"
#include "sim/run.h"
#include "sim/smbios_input.h"

namespace fleet {
namespace {

const char IMAGE_NAME[] = "BiosUpdateSelect.efi";

RunOptions ParseOptions(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(IMAGE_NAME));
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  RunOptions options;
  ParseRunOptions(static_cast<int>(argv.size()), argv.data(), &options);
  return options;
}

// A text from the data as a warning quotes it: control bytes shown as '?'
// and cut at the console's limit, as the image's own messages show it.
std::string Quoted(const std::string &text) {
  char shown[SHOWN_TEXT_SIZE];
  return std::string("\"") + ShowText(text.c_str(), shown) + "\"";
}

std::string Hex(uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

RunOutcome OutcomeOf(const sim::ImageRunResult &result) {
  RunOutcome outcome;
  outcome.status = result.status;
  std::string console;
  for (const sim::Event &event : result.events) {
    if (event.kind == sim::Event::Execute) {
      outcome.scripts.push_back(sim::TextToUtf8(event.text));
    } else {
      console += sim::TextToUtf8(event.text);
    }
  }
  size_t start = 0;
  while (start < console.size()) {
    size_t end = console.find('\n', start);
    size_t next = end == std::string::npos ? console.size() : end + 1;
    if (end == std::string::npos) end = console.size();
    size_t stop = end;
    while (stop > start && console[stop - 1] == '\r') --stop;
    outcome.messages.push_back(console.substr(start, stop - start));
    start = next;
  }
  return outcome;
}

bool SameDecision(const RunOutcome &a, const RunOutcome &b) {
  return a.scripts == b.scripts && a.status == b.status;
}

void Add(FleetRow *row, const char *key, const std::string &sentence) {
  for (const Warning &warning : row->warnings) {
    if (warning.key == key && warning.sentence == sentence) return;
  }
  row->warnings.push_back(Warning{key, sentence});
}

void AddIntegerRuleWarnings(const BiosVersionFacts &bios, FleetRow *row) {
  if (bios.has_string2 && bios.reading == IntegerReading::CountsAsZero) {
    Add(row, "reads-as-zero",
        "the integer rule reads the installed version " + Quoted(bios.string2) +
            " as 0, though it holds other characters");
  } else if (bios.has_string2 && bios.reading == IntegerReading::LeadingNumberOnly) {
    Add(row, "leading-number-only",
        "the integer rule reads only the leading number of the installed version " +
            Quoted(bios.string2) + ", as " + std::to_string(bios.integer));
  }
  // Without either string the run says "BIOS version not found" itself.
  if (bios.field == 2 || (!bios.has_string2 && !bios.has_field_string)) return;
  std::string string2 = bios.has_string2 ? "string 2 (" + Quoted(bios.string2) + ")"
                                         : "string 2 (missing)";
  if (bios.has_field_string) {
    Add(row, "string2-not-version",
        string2 + " is not the string the BIOS Version field names (string " +
            std::to_string(bios.field) + ", " + Quoted(bios.field_string) + ")");
  } else if (bios.field == 0) {
    Add(row, "string2-not-version",
        "the BIOS Version field names no string, yet the integer rule reads " + string2);
  } else {
    Add(row, "string2-not-version",
        "the BIOS Version field names string " + std::to_string(bios.field) +
            ", which the structure does not hold, yet the integer rule reads " + string2);
  }
}

void AddWalkWarning(const MachineFacts &facts, FleetRow *row) {
  if (facts.end == WalkEnd::TableEnd) return;
  std::string where;
  switch (facts.end) {
    case WalkEnd::RepeatedHandle:
      where = "where handle " + Hex(facts.end_handle, 4) + " repeats";
      break;
    case WalkEnd::InvalidHandle:
      where = "where a structure bears the invalid handle 0xFFFF";
      break;
    default:
      where = "where a damaged structure begins";
      break;
  }
  Add(row, "walk-stopped",
      "the walk stopped at table offset " + Hex(facts.end_offset, 4) + " of " +
          Hex(facts.table_length, 4) + ", " + where + ": " + std::to_string(facts.visited) +
          " structures are read, the rest of the table is not");
}

void AddWarnings(const MachineFacts &facts, const FleetSettings &settings, FleetRow *row) {
  RunOptions options = ParseOptions(settings.args);
  if (facts.entry_point3 && !options.Smbios3) {
    Add(row, "3.x-only",
        "the data holds only a 3.x entry point: the machine gets \"ERROR: SMBIOS table not "
        "found.\" unless the kit passes -smbios3");
  }
  for (const BiosVersionFacts &bios : facts.bios) {
    if (!options.Segments) AddIntegerRuleWarnings(bios, row);
  }
  AddWalkWarning(facts, row);
  if (!SameDecision(row->run, row->segments)) {
    Add(row, "runs-differ",
        "the two runs decide differently: \"" + OutcomeText(row->run) +
            "\" with the kit's options, \"" + OutcomeText(row->segments) + "\" with -segments");
  }
  if (!settings.has_configured_version) return;
  for (const BiosVersionFacts &bios : facts.bios) {
    if (!bios.has_field_string) continue;
    if (CompareVersionSegments(bios.field_string.c_str(), settings.configured_version.c_str()) ==
        SegmentComparison::NotComparable) {
      Add(row, "segments-cannot-compare",
          "the segment rule cannot compare the installed version " + Quoted(bios.field_string) +
              " with the configured " + Quoted(settings.configured_version));
    }
  }
}

}  // namespace

const char *const WARNING_KEYS[] = {
    "reads-as-zero", "leading-number-only", "string2-not-version", "walk-stopped",
    "3.x-only",      "runs-differ",         "segments-cannot-compare",
};
const size_t WARNING_KEY_COUNT = sizeof(WARNING_KEYS) / sizeof(WARNING_KEYS[0]);

const char *WarningMeaning(const std::string &key) {
  if (key == "reads-as-zero") {
    return "the integer rule reads the installed version as 0: every such machine looks alike";
  }
  if (key == "leading-number-only") {
    return "the integer rule reads only the leading number: minor versions or a model code decide";
  }
  if (key == "string2-not-version") {
    return "the integer rule reads string 2, but the BIOS Version field names another string";
  }
  if (key == "walk-stopped") {
    return "the structure walk stopped before the end of the table: structures after it are "
           "not read";
  }
  if (key == "3.x-only") {
    return "only a 3.x entry point: \"ERROR: SMBIOS table not found.\" unless the kit passes "
           "-smbios3";
  }
  if (key == "runs-differ") return "the run with the kit's options and the -segments run disagree";
  if (key == "segments-cannot-compare") {
    return "the segment rule cannot compare the installed and the configured version: no "
           "script, EFI_ABORTED";
  }
  return "";
}

std::vector<std::string> WithSegments(const std::vector<std::string> &args) {
  if (ParseOptions(args).Segments) return args;
  std::vector<std::string> with = args;
  with.push_back("-segments");
  return with;
}

std::string StatusText(EFI_STATUS status) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(status));
  return text;
}

std::string OutcomeText(const RunOutcome &outcome) {
  std::string text;
  for (const std::string &script : outcome.scripts) text += (text.empty() ? "" : " + ") + script;
  if (text.empty()) text = "no script";
  if (outcome.status == EFI_ABORTED) {
    text += ", aborted";
  } else if (outcome.status != EFI_SUCCESS) {
    text += ", status " + StatusText(outcome.status);
  }
  return text;
}

FleetRow MakeFleetRowFromDump(const std::string &input, const std::vector<uint8_t> &dump,
                              const FleetSettings &settings) {
  FleetRow row;
  row.input = input;
  sim::SmbiosAnchor anchor = sim::AnchorOf(dump);

  MachineFacts facts;
  sim::ImageRun run;
  run.args = settings.args;
  run.dir = settings.kit;
  run.smbios = &dump;
  run.after = [&](sim::Firmware &firmware) {
    facts = ReadMachineFacts(firmware, anchor == sim::SmbiosAnchor::V3);
  };
  sim::ImageRunResult result;
  if (!sim::RunImage(run, &result, &row.error)) return row;
  row.run = OutcomeOf(result);

  std::vector<std::string> with_segments = WithSegments(settings.args);
  if (with_segments == settings.args) {
    row.segments = row.run;
  } else {
    sim::ImageRun second = run;  // the same machine and kit, -segments added
    second.args = with_segments;
    second.after = nullptr;
    sim::RunImage(second, &result, &row.error);
    row.segments = OutcomeOf(result);
  }

  row.has_manufacturer = facts.has_manufacturer;
  row.manufacturer = facts.manufacturer;
  row.has_product = facts.has_product;
  row.product = facts.product;
  if (!facts.bios.empty()) {
    row.has_bios_version = facts.bios[0].has_field_string;
    row.bios_version = facts.bios[0].field_string;
    row.has_string2 = facts.bios[0].has_string2;
    row.string2 = facts.bios[0].string2;
  }
  AddWarnings(facts, settings, &row);
  return row;
}

FleetRow MakeFleetRow(const std::string &input, const FleetSettings &settings) {
  std::vector<uint8_t> dump;
  std::string error;
  if (!sim::LoadSmbiosInput(input, &dump, &error)) {
    FleetRow row;
    row.input = input;
    row.error = error;
    return row;
  }
  return MakeFleetRowFromDump(input, dump, settings);
}

}  // namespace fleet
