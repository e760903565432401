// bios-update-select-fleet: every machine's outcome under a kit, from the
// machines' SMBIOS data, before the kit ships. The work is in fleet/; this
// file only reads the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <map>

#include "fleet/fleet_report.h"
#include "sim/host_output.h"

namespace {

// "--output=" with nothing after the "=" would have the parser take the
// next word as the value: a dump named there would leave the report, or be
// overwritten by it. An option's value is never empty that way.
bool RefuseEmptyValues(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--") break;
    if (word.rfind("--", 0) == 0 && word.find('=') == word.size() - 1) {
      std::cerr << "bios-update-select-fleet: " << fleet::Cell(word) << " has no value after the '=' (see --help)\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  sim::StandardStreams streams = sim::KeepStandardStreamsTaken();
  if (!RefuseEmptyValues(argc, argv)) return fleet::FLEET_CANNOT_RUN;
  fleet::FleetCommand command;
  command.standard_output_closed = streams.closed[STDOUT_FILENO];
  CLI::App app(
      "Runs BiosUpdateSelect.efi on simulated firmware once per machine (twice: with the kit's "
      "options, and with -segments added) and reports every machine's outcome, with a warning "
      "wherever the decision cannot be trusted.",
      "bios-update-select-fleet");
  app.add_option("--kit", command.kits,
                 "a kit folder (its UpdateConfig.ini); give it once per kit; with several kits "
                 "each machine runs under the kits whose ProductName= matches its product")
      ->default_str("the current directory")
      ->allow_extra_args(false);  // one folder per --kit: what follows is an input
  app.add_option("--kits", command.libraries,
                 "a folder of kits: every folder under it that holds an UpdateConfig.ini")
      ->allow_extra_args(false);
  app.add_option("--output", command.output,
                 "write the report to this file (whole, or not at all) instead of standard output");
  app.add_option("--app-args", command.app_args,
                 "the image's options for every run, split on blanks (e.g. \"-product\")");
  // Set by tools/fleet-report --medium, which unpacks the medium's kits.
  app.add_option("--shown-as", command.shown_as)->group("")->allow_extra_args(false);
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
  app.add_option("INPUT", command.inputs,
                 "a dump file (dmidecode --dump-bin), a copy of /sys/firmware/dmi/tables, or a "
                 "folder searched for both")
      ->required();
  app.footer(
      "Exit status: 0 when the report was made, whatever the outcomes; 2 for bad usage, a kit "
      "whose UpdateConfig.ini cannot be read, a --kits folder without kits, two kits that are one "
      "folder, or an output that cannot be written. Inputs that are not SMBIOS data are rows. "
      "--output takes a new or regular file, never a link, a device or one of the inputs; the "
      "report is written beside it and renamed over it when whole.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    std::cout << app.help() << std::flush;
    if (!std::cout) {
      std::cerr << "bios-update-select-fleet: standard output: cannot be written\n";
      return fleet::FLEET_CANNOT_RUN;
    }
    return fleet::FLEET_REPORT_MADE;
  } catch (const CLI::ParseError &error) {
    std::cerr << "bios-update-select-fleet: " << fleet::Cell(error.what()) << " (see --help)\n";
    return fleet::FLEET_CANNOT_RUN;
  }
  if (app.count("--output") > 0 && command.output.empty()) {
    std::cerr << "bios-update-select-fleet: --output needs a file name (see --help)\n";
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
