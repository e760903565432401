// Making one fleet row. Both runs go through sim::RunImage, the sequence
// the preview tool runs, so a row and a preview of the same data agree by
// construction; the facts are read from the table the first run's firmware
// published, after the run, with the product's own SMBIOS functions.
#include "fleet/fleet_row.h"

#include <cstdio>

#include "app/options.h"
#include "app/kit_choice.h"
#include "app/product_check.h"
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

// What the machine's data says whatever the kit: the entry point, the
// integer rule's reading of string 2, the walk.
void AddDataWarnings(const MachineFacts &facts, const RunOptions &options, FleetRow *row) {
  if (facts.entry_point3 && !options.Smbios3) {
    Add(row, "3.x-only",
        "the data holds only a 3.x entry point: the machine gets \"ERROR: SMBIOS table not "
        "found.\" unless the kit passes -smbios3");
  }
  for (const BiosVersionFacts &bios : facts.bios) {
    if (!options.Segments) AddIntegerRuleWarnings(bios, row);
  }
  AddWalkWarning(facts, row);
}

// What the runs under one kit say. `which` names the kit in the sentences
// when the machine runs under several.
void AddKitWarnings(const MachineFacts &facts, const KitInfo &kit, const KitRuns &runs,
                    const std::string &which, FleetRow *row) {
  if (kit.has_sums && !kit.sums_intact) {
    std::string line = kit.sums_line;
    if (line.compare(0, 7, "ERROR: ") == 0) line = line.substr(7);
    Add(row, "kit-damaged", "the kit " + kit.folder + " does not match its SHA256SUMS: " + line);
  }
  if (!SameDecision(runs.run, runs.segments)) {
    Add(row, "runs-differ",
        "the two runs" + which + " decide differently: \"" + OutcomeText(runs.run) +
            "\" with the kit's options, \"" + OutcomeText(runs.segments) + "\" with -segments");
  }
  if (!kit.has_version) return;
  for (const BiosVersionFacts &bios : facts.bios) {
    if (!bios.has_field_string) continue;
    if (CompareVersionSegments(bios.field_string.c_str(), kit.version.c_str()) ==
        SegmentComparison::NotComparable) {
      Add(row, "segments-cannot-compare",
          "the segment rule cannot compare the installed version " + Quoted(bios.field_string) +
              " with the configured " + Quoted(kit.version) + which);
    }
  }
}

std::string ProductOf(const FleetRow &row) {
  return row.has_product ? "the product " + Quoted(row.product) : "the data, which names no product,";
}

// Which kits serve the machine, when that is not plainly one kit made for it.
void AddKitChoiceWarnings(const FleetSettings &settings, FleetRow *row) {
  if (settings.kits.size() == 1 && !settings.library) {
    const KitInfo &kit = settings.kits.front();
    if (CheckKitModel(kit, row->has_product, row->product, row->hardware_ids).Match ==
        ModelMatch::Serves) {
      return;
    }
    if (kit.has_hardware_ids) {
      Add(row, "product-mismatch",
          ProductOf(*row) + " of manufacturer " +
              (row->has_manufacturer ? Quoted(row->manufacturer) : std::string("(none)")) +
              " is not a model the kit's ProductName= and HardwareIds= name: the kit may be "
              "another model's");
      return;
    }
    Add(row, "product-mismatch",
        ProductOf(*row) + " does not match the kit's ProductName= " +
            (kit.has_product_name ? Quoted(kit.product_name) : std::string("(none)")) +
            ": the kit may be another model's");
    return;
  }
  if (row->kits.empty()) {
    Add(row, "no-kit", ProductOf(*row) + " matches no kit's ProductName=: no kit serves it");
  } else if (row->kits.size() > 1) {
    std::string kits;
    for (const KitRuns &runs : row->kits) {
      kits += (kits.empty() ? "" : ", ") + runs.kit + " (" + OutcomeText(runs.run) + ")";
    }
    Add(row, "several-kits",
        ProductOf(*row) + " matches the ProductName= of " + std::to_string(row->kits.size()) +
            " kits: " + kits);
  }
}

// The facts come first, from a firmware of their own (gone before any run
// makes its own): they say which kits the machine runs under, and a machine
// no kit serves runs under none.
bool ReadFactsOf(const std::vector<uint8_t> &dump, MachineFacts *facts, std::string *error) {
  sim::Firmware firmware{sim::Options{}};
  if (!firmware.PublishSmbiosDump(dump, error)) return false;
  *facts = ReadMachineFacts(firmware, sim::AnchorOf(dump) == sim::SmbiosAnchor::V3);
  return true;
}

KitRuns RunUnderKit(const std::vector<uint8_t> &dump, const KitInfo &kit,
                    const std::vector<std::string> &args, std::string *error) {
  KitRuns runs;
  runs.kit = kit.folder;
  sim::ImageRun run;
  run.args = args;
  run.dir = kit.dir.empty() ? kit.folder : kit.dir;
  if (kit.has_config) run.files = {{"UpdateConfig.ini", kit.config}};
  // Planned as booted from a stick, which keeps a -log record: the run
  // writes it into memory rather than being refused.
  run.writable = true;
  run.smbios = &dump;
  sim::ImageRunResult result;
  sim::RunImage(run, &result, error);
  runs.run = OutcomeOf(result);
  std::vector<std::string> with_segments = WithSegments(args);
  if (with_segments == args) {
    runs.segments = runs.run;
  } else {
    run.args = with_segments;  // the same machine and kit, -segments added
    sim::RunImage(run, &result, error);
    runs.segments = OutcomeOf(result);
  }
  return runs;
}

}  // namespace

const WarningKind WARNING_KINDS[] = {
    {"reads-as-zero",
     "the integer rule reads the installed version as 0: every such machine looks alike"},
    {"leading-number-only",
     "the integer rule reads only the leading number: minor versions or a model code decide"},
    {"string2-not-version",
     "the integer rule reads string 2, but the BIOS Version field names another string"},
    {"walk-stopped",
     "the structure walk stopped before the end of the table: structures after it are not read"},
    {"3.x-only",
     "only a 3.x entry point: \"ERROR: SMBIOS table not found.\" unless the kit passes -smbios3"},
    {"runs-differ", "the run with the kit's options and the -segments run disagree"},
    {"segments-cannot-compare",
     "the segment rule cannot compare the installed and the configured version: no script, "
     "EFI_ABORTED"},
    {"no-kit", "no kit's ProductName= matches the machine's product: no kit serves it"},
    {"several-kits",
     "the ProductName= of more than one kit matches the machine's product: which kit ships to it "
     "is not plain"},
    {"arch-lines-differ",
     "the data names no processor, and the medium's x64 and AArch64 lines decide differently: "
     "the outcome depends on which machine it is"},
    {"product-mismatch",
     "the machine's product does not match the kit's ProductName=: without -product the kit "
     "would update another model"},
    {"kit-damaged",
     "the kit's files do not match its SHA256SUMS: with -verify every machine refuses the kit, "
     "without it they run the damaged files"},
    {"other-build",
     "the machine's latest record ran another build of its kit: its kit_sha256 is not the "
     "planned kit's"},
    {"same-machine",
     "another input holds the same machine (serial number, UUID and product alike): it is "
     "counted once, under the first"},
    {"shared-uuid",
     "more than one machine of the fleet bears this UUID (a placeholder): records join them by "
     "serial number and product instead"},
};
const size_t WARNING_KIND_COUNT = sizeof(WARNING_KINDS) / sizeof(WARNING_KINDS[0]);

const char *WarningMeaning(const std::string &key) {
  for (const WarningKind &kind : WARNING_KINDS) {
    if (key == kind.key) return kind.meaning;
  }
  return "";
}

std::vector<std::string> WithSegments(const std::vector<std::string> &args) {
  if (ParseOptions(args).Segments) return args;
  std::vector<std::string> with = args;
  with.push_back("-segments");
  return with;
}

size_t Utf8Length(const std::string &text, size_t at) {
  if (at >= text.size()) return 0;
  unsigned char c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[at + k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string ShownText(const std::string &text) {
  const size_t limit = static_cast<size_t>(SHOWN_TEXT_LIMIT);
  if (text.size() <= limit) return text;
  // A character the cut would split is left out whole.
  size_t cut = limit;
  for (size_t back = 1; back <= 3; ++back) {
    if (Utf8Length(text, limit - back) > back) {
      cut = limit - back;
      break;
    }
  }
  return text.substr(0, cut) + "...";
}

std::string StatusText(EFI_STATUS status) {
  // The shell's %lasterror% drops the top bit that marks an error: 0x15,
  // not 0x8000000000000015.
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX",
                static_cast<unsigned long long>(status & ~EFI_ERROR_BIT));
  return text;
}

std::string OutcomeText(const RunOutcome &outcome) {
  std::string text = ScriptsOutcome(outcome);
  if (outcome.status == EFI_ABORTED) {
    text += ", aborted";
  } else if (outcome.status != EFI_SUCCESS) {
    text += ", status " + StatusText(outcome.status);
  }
  return text;
}

std::string ScriptsOutcome(const RunOutcome &outcome) {
  std::string text;
  for (const std::string &script : outcome.scripts) text += (text.empty() ? "" : " + ") + script;
  return text.empty() ? "no script" : text;
}

ModelVerdict CheckKitModel(const KitInfo &kit, bool has_product, const std::string &product,
                           const HardwareIds &ids) {
  bool names = kit.product_name_key || kit.has_product_name;
  return CheckModel(names ? kit.product_name.c_str() : nullptr,
                    kit.has_hardware_ids ? kit.hardware_ids.c_str() : nullptr,
                    has_product ? product.c_str() : nullptr, &ids);
}

std::string HardwareIdName(int index) { return "HardwareID-" + std::to_string(index); }

std::string HardwareIdText(const HardwareIds &ids, int index) {
  char text[HARDWARE_ID_TEXT_SIZE];
  FormatHardwareId(ids.Id[index], text);
  return text;
}

std::vector<size_t> KitsServing(const FleetSettings &settings, bool has_product,
                                const std::string &product, const HardwareIds &ids) {
  if (settings.kits.size() == 1 && !settings.library) return {0};
  // The image's own tally: a kit serves the machine as -kits counts it,
  // and a machine that names no model is served by none.
  bool has_model = has_product && !product.empty();
  for (bool present : ids.Present) has_model = has_model || present;
  KitTally tally = {0, 0, 0};
  std::vector<size_t> serving;
  for (size_t i = 0; has_model && i < settings.kits.size(); ++i) {
    if (TallyKit(&tally, CheckKitModel(settings.kits[i], has_product, product, ids).Match)) {
      serving.push_back(i);
    }
  }
  return serving;
}

FleetRow MakeFleetRowFromDump(const std::string &input, const std::vector<uint8_t> &dump,
                              const FleetSettings &settings) {
  FleetRow row;
  row.input = input;
  MachineFacts facts;
  if (!ReadFactsOf(dump, &facts, &row.error)) return row;

  row.has_manufacturer = facts.has_manufacturer;
  row.manufacturer = facts.manufacturer;
  row.has_product = facts.has_product;
  row.product = facts.product;
  row.has_serial = facts.has_serial;
  row.serial = facts.serial;
  row.has_sku = facts.has_sku;
  row.sku = facts.sku;
  row.has_uuid = facts.has_uuid;
  row.uuid = facts.uuid;
  if (!facts.bios.empty()) {
    row.has_bios_version = facts.bios[0].has_field_string;
    row.bios_version = facts.bios[0].field_string;
    row.has_string2 = facts.bios[0].has_string2;
    row.string2 = facts.bios[0].string2;
  }

  for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
    row.has_hwid_field[i] = facts.has_hwid_field[i];
    row.hwid_field[i] = ShownText(facts.hwid_field[i]);
  }
  row.hardware_ids = facts.hardware_ids;
  std::vector<size_t> serving = KitsServing(settings, row.has_product, row.product, row.hardware_ids);
  bool aarch64 = settings.has_aarch64_args && facts.arch == ProcessorArch::AArch64;
  const std::vector<std::string> &args = aarch64 ? settings.aarch64_args : settings.args;
  for (size_t index : serving) {
    row.kits.push_back(RunUnderKit(dump, settings.kits[index], args, &row.error));
  }
  if (settings.has_aarch64_args && facts.arch == ProcessorArch::Unknown &&
      settings.aarch64_args != settings.args) {
    for (size_t i = 0; i < serving.size(); ++i) {
      KitRuns other = RunUnderKit(dump, settings.kits[serving[i]], settings.aarch64_args,
                                  &row.error);
      if (SameDecision(other.run, row.kits[i].run)) continue;
      std::string which = serving.size() > 1 ? " under " + row.kits[i].kit : "";
      Add(&row, "arch-lines-differ",
          "the data names no processor, and the medium's lines decide differently" + which +
              ": \"" + OutcomeText(row.kits[i].run) + "\" on x64, \"" + OutcomeText(other.run) +
              "\" on AArch64");
      break;
    }
  }
  if (!row.kits.empty()) {
    row.run = row.kits.front().run;
    row.segments = row.kits.front().segments;
    if (serving.size() == 1) row.kit_sha256 = settings.kits[serving[0]].identity;
  }

  AddDataWarnings(facts, ParseOptions(args), &row);
  for (size_t i = 0; i < serving.size(); ++i) {
    std::string which = serving.size() > 1 ? " under " + row.kits[i].kit : "";
    AddKitWarnings(facts, settings.kits[serving[i]], row.kits[i], which, &row);
  }
  AddKitChoiceWarnings(settings, &row);
  // The texts are matched and compared whole above; the report shows them
  // as the image quotes them, so one 64 KiB string cannot swell every form.
  for (std::string *text : {&row.manufacturer, &row.product, &row.bios_version, &row.string2}) {
    *text = ShownText(*text);
  }
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
