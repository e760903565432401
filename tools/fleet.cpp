// bios-update-select-fleet: every machine's outcome under a kit, from the
// machines' SMBIOS data, before the kit ships. The work is in fleet/; this
// file only reads the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>
#include <map>

#include "app/file_names.h"
#include "fleet/fleet_report.h"
#include "fleet/shown_text.h"
#include "sim/host_output.h"

namespace {

// The options that take a value.
const char *const VALUE_OPTIONS[] = {"--kit",    "--kits",    "--output",   "--app-args", "--format",
                                     "--jobs",   "--records", "--shown-as", "--fail-on",  "--medium"};

bool TakesValue(const std::string &option) {
  for (const char *name : VALUE_OPTIONS) {
    if (option == name) return true;
  }
  return false;
}

// "--output=" with nothing after the "=" would have the parser take the
// next word as the value: a dump named there would leave the report, or be
// overwritten by it. An option's value is never empty that way. Nor does a
// value begin with "--": "--output --format csv" is an option forgotten,
// and would write a file named "--format" (or over the next input).
bool RefuseBadValues(const std::string &name, int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--") break;
    if (word.rfind("--", 0) != 0) continue;
    size_t equals = word.find('=');
    std::string option = word.substr(0, equals), value;
    if (equals == word.size() - 1) {
      std::cerr << name << ": " << fleet::Cell(word) << " has no value after the '=' (see --help)\n";
      return false;
    }
    if (equals != std::string::npos) {
      value = word.substr(equals + 1);
    } else if (TakesValue(option) && i + 1 < argc) {
      value = argv[++i];
    }
    if (TakesValue(option) && value.rfind("--", 0) == 0) {
      std::cerr << name << ": " << fleet::Cell(option) << " takes a value, not the option "
                << fleet::Cell(value) << " (see --help)\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  sim::StandardStreams streams = sim::KeepStandardStreamsTaken();
  fleet::FleetCommand command;
  // tools/fleet-report starts the program under its own name, so its lines
  // name the command the admin typed.
  if (argc > 0 && argv[0] != nullptr && std::strrchr(argv[0], '/') == nullptr &&
      std::strcmp(argv[0], "fleet-report") == 0) {
    command.name = argv[0];
  }
  const std::string &name = command.name;
  if (!RefuseBadValues(name, argc, argv)) return fleet::FLEET_CANNOT_RUN;
  command.standard_output_closed = streams.closed[STDOUT_FILENO];
  CLI::App app(
      "Runs BiosUpdateSelect.efi on simulated firmware once per machine (twice: with the kit's "
      "options, and with -segments added) and reports every machine's outcome, with a warning "
      "wherever the decision cannot be trusted.",
      "bios-update-select-fleet");
  app.set_version_flag("--version", fleet::FLEET_VERSION, "the commit it was built from");
  app.add_option("--kit", command.kits,
                 "a kit folder (its " UPDATE_CONFIG_NAME "); give it once per kit; with several kits "
                 "each machine runs under the kits whose ProductName= matches its product")
      ->default_str("the current directory")
      ->allow_extra_args(false);  // one folder per --kit: what follows is an input
  app.add_option("--kits", command.libraries,
                 "a folder of kits: every folder under it that holds an " UPDATE_CONFIG_NAME)
      ->allow_extra_args(false);
  std::string medium;
  app.add_option("--medium", medium,
                 "(tools/fleet-report) a finished kit medium, disk image or ISO, in place of --kit, "
                 "--kits and --app-args: its kits and its application's options");
  app.add_option("--output", command.output,
                 "write the report to this file (whole, or not at all) instead of standard output; "
                 "then one line on the error stream with the totals");
  app.add_option("--app-args", command.app_args,
                 "the image's options for every run, split on blanks (e.g. \"-product\")");
  // Set by tools/fleet-report --medium, which unpacks the medium's kits.
  app.add_option("--shown-as", command.shown_as)->group("")->allow_extra_args(false);
  CLI::Option *aarch64_args = app.add_option("--app-args-aarch64", command.app_args_aarch64)
                                  ->group("");
  std::string format;
  app.add_option("--format", format,
                 "table (the default on a terminal), csv (the default otherwise), json or html (a page)")
      ->check(CLI::IsMember({"table", "csv", "json", "html"}));
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  command.jobs = online > 0 ? static_cast<unsigned>(online) : 1;
  app.add_option("--jobs", command.jobs, "worker processes (default: the number of processors)")
      ->check(CLI::Range(1u, 256u));
  app.add_option("--records", command.records,
                 "run records a rollout brought back (the image's -log file, rollout.jsonl), or a "
                 "folder of *.jsonl files; give it once per file or folder; each machine gets its "
                 "latest record and a rollout state")
      ->allow_extra_args(false);
  std::string states;
  for (const char *state : fleet::FAIL_ON_STATES) states += (states.empty() ? "" : ", ") + std::string(state);
  app.add_option("--fail-on", command.fail_on,
                 "STATE[,STATE...]: exit with status 1 when a machine is in one of these: " + states +
                     " (the rollout states need --records)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::IsMember(std::vector<std::string>(std::begin(fleet::FAIL_ON_STATES),
                                                     std::end(fleet::FAIL_ON_STATES))));
  app.add_option("INPUT", command.inputs,
                 "a dump file (dmidecode --dump-bin), a copy of /sys/firmware/dmi/tables, or a "
                 "folder searched for both")
      ->required();
  app.footer(
      "Exit status: 0 when the report was made; 1 when it was made and a machine is in a state "
      "--fail-on names; 2 when it could not be made: bad usage, an INPUT that is not there or "
      "cannot be read, a --records file none of whose lines is a run record, a kit whose "
      UPDATE_CONFIG_NAME " cannot be read, a --kits folder without kits, two kits that are one "
      "folder, or an output that cannot be written. Files found inside an INPUT folder that are "
      "not SMBIOS data are rows. --output takes a new or regular file, never a link, a device "
      "or one of the inputs; the report is written beside it and renamed over it when whole.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    std::cout << app.help() << std::flush;
    if (!std::cout) {
      std::cerr << name << ": standard output: cannot be written\n";
      return fleet::FLEET_CANNOT_RUN;
    }
    return fleet::FLEET_REPORT_MADE;
  } catch (const CLI::CallForVersion &) {
    std::cout << "bios-update-select-fleet " << fleet::FLEET_VERSION << "\n" << std::flush;
    return std::cout ? fleet::FLEET_REPORT_MADE : fleet::FLEET_CANNOT_RUN;
  } catch (const CLI::ParseError &error) {
    std::cerr << name << ": " << fleet::Cell(error.what()) << " (see --help)\n";
    return fleet::FLEET_CANNOT_RUN;
  }
  command.has_app_args_aarch64 = aarch64_args->count() > 0;
  if (app.count("--output") > 0 && command.output.empty()) {
    std::cerr << name << ": --output needs a file name (see --help)\n";
    return fleet::FLEET_CANNOT_RUN;
  }
  if (app.count("--medium") > 0) {
    std::cerr << name << ": --medium is read by tools/fleet-report, which unpacks the medium's kits\n";
    return fleet::FLEET_CANNOT_RUN;
  }
  static const std::map<std::string, fleet::Format> FORMATS = {
      {"table", fleet::Format::Table}, {"csv", fleet::Format::Csv}, {"json", fleet::Format::Json},
      {"html", fleet::Format::Html}};
  command.format = format.empty() ? (isatty(STDOUT_FILENO) ? fleet::Format::Table : fleet::Format::Csv)
                                  : FORMATS.at(format);
  command.progress = isatty(STDERR_FILENO) != 0;
  return fleet::RunFleetReport(command, std::cerr);
}
