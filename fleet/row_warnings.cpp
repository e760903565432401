// The report's warnings: their kinds and the sentences for one machine.
#include "fleet/row_warnings.h"

#include <algorithm>
#include <cstdio>

#include "app/file_names.h"
#include "app/shown_text.h"
#include "app/version_segments.h"
#include "fleet/row_text.h"

namespace fleet {
namespace {

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

void AddIntegerRuleWarnings(const BiosVersionFacts &bios, FleetRow *row) {
  if (bios.has_string2 && bios.reading == IntegerReading::CountsAsZero) {
    AddWarning(row, "reads-as-zero",
        "the integer rule reads the installed version " + Quoted(bios.string2) +
            " as 0, though it holds other characters");
  } else if (bios.has_string2 && bios.reading == IntegerReading::LeadingNumberOnly) {
    AddWarning(row, "leading-number-only",
        "the integer rule reads only the leading number of the installed version " +
            Quoted(bios.string2) + ", as " + std::to_string(bios.integer));
  }
  // Without either string the run says "BIOS version not found" itself.
  if (bios.field == 2 || (!bios.has_string2 && !bios.has_field_string)) return;
  std::string string2 = bios.has_string2 ? "string 2 (" + Quoted(bios.string2) + ")"
                                         : "string 2 (missing)";
  if (bios.has_field_string) {
    AddWarning(row, "string2-not-version",
        string2 + " is not the string the BIOS Version field names (string " +
            std::to_string(bios.field) + ", " + Quoted(bios.field_string) + ")");
  } else if (bios.field == 0) {
    AddWarning(row, "string2-not-version",
        "the BIOS Version field names no string, yet the integer rule reads " + string2);
  } else {
    AddWarning(row, "string2-not-version",
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
  AddWarning(row, "walk-stopped",
      "the walk stopped at table offset " + Hex(facts.end_offset, 4) + " of " +
          Hex(facts.table_length, 4) + ", " + where + ": " + std::to_string(facts.visited) +
          " structures are read, the rest of the table is not");
}

std::string ProductOf(const FleetRow &row) {
  const MachineFacts &facts = row.facts;
  return facts.has_product ? "the product " + Quoted(facts.product) : "the data, which names no product,";
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
     "the kit's files do not match its " KIT_SUMS_NAME
     ": with -verify every machine refuses the kit, "
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

void AddWarning(FleetRow *row, const char *key, const std::string &sentence) {
  for (const Warning &warning : row->warnings) {
    if (warning.key == key && warning.sentence == sentence) return;
  }
  row->warnings.push_back(Warning{key, sentence});
}

void AddDataWarnings(const RunOptions &options, FleetRow *row) {
  const MachineFacts &facts = row->facts;
  if (facts.entry_point3 && !options.Smbios3) {
    AddWarning(row, "3.x-only",
        "the data holds only a 3.x entry point: the machine gets \"ERROR: SMBIOS table not "
        "found.\" unless the kit passes -smbios3");
  }
  for (const BiosVersionFacts &bios : facts.bios) {
    if (!options.Segments) AddIntegerRuleWarnings(bios, row);
  }
  AddWalkWarning(facts, row);
}

void AddKitWarnings(const KitInfo &kit, const KitRuns &runs, const std::string &which,
                    FleetRow *row) {
  const MachineFacts &facts = row->facts;
  if (kit.has_sums && !kit.sums_intact) {
    std::string line = kit.sums_line;
    if (line.compare(0, 7, "ERROR: ") == 0) line = line.substr(7);
    AddWarning(row, "kit-damaged",
               "the kit " + kit.folder + " does not match its " KIT_SUMS_NAME ": " + line);
  }
  if (!SameDecision(runs.run, runs.segments)) {
    AddWarning(row, "runs-differ",
        "the two runs" + which + " decide differently: \"" + OutcomeText(runs.run) +
            "\" with the kit's options, \"" + OutcomeText(runs.segments) + "\" with -segments");
  }
  if (!kit.has_version) return;
  for (const BiosVersionFacts &bios : facts.bios) {
    if (!bios.has_field_string) continue;
    if (CompareVersionSegments(bios.field_string.c_str(), kit.version.c_str()) ==
        SegmentComparison::NotComparable) {
      AddWarning(row, "segments-cannot-compare",
          "the segment rule cannot compare the installed version " + Quoted(bios.field_string) +
              " with the configured " + Quoted(kit.version) + which);
    }
  }
}

void AddKitChoiceWarnings(const FleetSettings &settings, FleetRow *row) {
  if (settings.kits.size() == 1 && !settings.library) {
    const KitInfo &kit = settings.kits.front();
    const MachineFacts &facts = row->facts;
    if (CheckKitModel(kit, facts.has_product, facts.product, facts.hardware_ids).Match ==
        ModelMatch::Serves) {
      return;
    }
    if (kit.has_hardware_ids) {
      AddWarning(row, "product-mismatch",
          ProductOf(*row) + " of manufacturer " +
              (facts.has_manufacturer ? Quoted(facts.manufacturer) : std::string("(none)")) +
              " is not a model the kit's ProductName= and HardwareIds= name: the kit may be "
              "another model's");
      return;
    }
    AddWarning(row, "product-mismatch",
        ProductOf(*row) + " does not match the kit's ProductName= " +
            (kit.has_product_name ? Quoted(kit.product_name) : std::string("(none)")) +
            ": the kit may be another model's");
    return;
  }
  if (row->kits.empty()) {
    AddWarning(row, "no-kit", ProductOf(*row) + " matches no kit's ProductName=: no kit serves it");
  } else if (row->kits.size() > 1) {
    std::string kits;
    for (const KitRuns &runs : row->kits) {
      kits += (kits.empty() ? "" : ", ") + runs.kit + " (" + OutcomeText(runs.run) + ")";
    }
    AddWarning(row, "several-kits",
        ProductOf(*row) + " matches the ProductName= of " + std::to_string(row->kits.size()) +
            " kits: " + kits);
  }
}
void AddArchLinesWarning(const std::string &which, const RunOutcome &x64, const RunOutcome &aarch64,
                         FleetRow *row) {
  AddWarning(row, "arch-lines-differ",
             "the data names no processor, and the medium's lines decide differently" + which +
                 ": \"" + OutcomeText(x64) + "\" on x64, \"" + OutcomeText(aarch64) + "\" on AArch64");
}

std::vector<std::string> WarningSentences(const FleetRow &row) {
  std::vector<std::string> sentences;
  for (const Warning &warning : row.warnings) sentences.push_back(warning.sentence);
  return sentences;
}

std::vector<std::string> WarningKeys(const FleetRow &row) {
  std::vector<std::string> keys;
  for (const Warning &warning : row.warnings) keys.push_back(warning.key);
  return keys;
}

std::vector<std::string> DistinctWarningKeys(const FleetRow &row) {
  std::vector<std::string> keys;
  for (const Warning &warning : row.warnings) {
    if (std::find(keys.begin(), keys.end(), warning.key) == keys.end()) keys.push_back(warning.key);
  }
  return keys;
}

}  // namespace fleet
