// Making one fleet row. Both runs go through sim::RunImage, the sequence
// the preview tool runs, so a row and a preview of the same data agree by
// construction; the facts are read from the table the first run's firmware
// published, after the run, with the product's own SMBIOS functions.
#include "fleet/fleet_row.h"

#include "app/file_names.h"
#include "app/kit_choice.h"
#include "app/options.h"
#include "fleet/machine_facts.h"
#include "fleet/row_warnings.h"
#include "fleet/shown_text.h"
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
  if (kit.has_config) run.files = {{UPDATE_CONFIG_NAME, kit.config}};
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

bool SameDecision(const RunOutcome &a, const RunOutcome &b) {
  return a.scripts == b.scripts && a.status == b.status;
}

std::vector<std::string> WithSegments(const std::vector<std::string> &args) {
  if (ParseOptions(args).Segments) return args;
  std::vector<std::string> with = args;
  with.push_back("-segments");
  return with;
}

ModelVerdict CheckKitModel(const KitInfo &kit, bool has_product, const std::string &product,
                           const HardwareIds &ids) {
  bool names = kit.product_name_key || kit.has_product_name;
  return CheckModel(names ? kit.product_name.c_str() : nullptr,
                    kit.has_hardware_ids ? kit.hardware_ids.c_str() : nullptr,
                    has_product ? product.c_str() : nullptr, &ids);
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
  if (!ReadFactsOf(dump, &row.facts, &row.error)) return row;
  const MachineFacts &facts = row.facts;
  std::vector<size_t> serving = KitsServing(settings, facts.has_product, facts.product, facts.hardware_ids);
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
      AddArchLinesWarning(which, row.kits[i].run, other.run, &row);
      break;
    }
  }
  if (!row.kits.empty()) {
    row.run = row.kits.front().run;
    row.segments = row.kits.front().segments;
    if (serving.size() == 1) row.kit_sha256 = settings.kits[serving[0]].identity;
  }

  AddDataWarnings(ParseOptions(args), &row);
  for (size_t i = 0; i < serving.size(); ++i) {
    std::string which = serving.size() > 1 ? " under " + row.kits[i].kit : "";
    AddKitWarnings(settings.kits[serving[i]], row.kits[i], which, &row);
  }
  AddKitChoiceWarnings(settings, &row);
  // The texts are matched and compared whole above; the report shows them
  // as the image quotes them, so one 64 KiB string cannot swell every form.
  MachineFacts &shown = row.facts;
  for (std::string *text : {&shown.manufacturer, &shown.product}) *text = ShownText(*text);
  if (!shown.bios.empty()) {
    shown.bios[0].field_string = ShownText(shown.bios[0].field_string);
    shown.bios[0].string2 = ShownText(shown.bios[0].string2);
  }
  for (std::string &field : shown.hwid_field) field = ShownText(field);
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
