// The fleet report as a whole, below its command line: the kit's reading,
// the search of the inputs, the rows and the chosen form.
//
//   bios-update-select-fleet [--kit DIR]... [--kits DIR]... [--app-args "ARGS"]
//                            [--format table|csv|json|html] [--output FILE]
//                            [--jobs N] [--records FILE|DIR]... INPUT...
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/report_writer.h"

namespace fleet {

// Exit codes: the report was made; it was made and a machine is in a state
// --fail-on names; it could not be made (bad usage, an input that is not
// there, a kit whose UpdateConfig.ini cannot be read, ...).
constexpr int FLEET_REPORT_MADE = 0;
constexpr int FLEET_STATES_FOUND = 1;
constexpr int FLEET_CANNOT_RUN = 2;

// What --fail-on takes: the four rollout states (with --records), then a
// machine no kit serves, one several kits serve, and one with a warning.
extern const char *const FAIL_ON_STATES[7];
// Whether `state` asks for records to be read (one of the rollout states).
bool FailOnNeedsRecords(const std::string &state);

// The commit the report was built from, as `git describe` names it.
extern const char FLEET_VERSION[];

struct FleetCommand {
  std::string name = "bios-update-select-fleet";  // as the lines on the error stream begin
  std::vector<std::string> kits;       // --kit: kit folders; none and no --kits: "."
  std::vector<std::string> libraries;  // --kits: folders searched for kit folders
  std::string output;                  // --output: the report's file; empty: standard output
  std::string app_args;
  // Set by tools/fleet-report --medium for a medium of both machines: the
  // AArch64 image's line, which that medium's AArch64 machines run with.
  bool has_app_args_aarch64 = false;
  std::string app_args_aarch64;
  // FOLDER=NAME: kits read under FOLDER (a medium's kits, unpacked there by
  // tools/fleet-report --medium) are named NAME\PATH, as the medium holds them.
  std::vector<std::string> shown_as;
  Format format = Format::Csv;
  unsigned jobs = 1;
  bool progress = false;  // a running count on the error stream
  bool standard_output_closed = false;  // descriptor 1 was closed at start
  // --records: run records (files, or folders of *.jsonl files) joined to
  // the machines for their rollout states.
  std::vector<std::string> records;
  // --fail-on: FAIL_ON_STATES; a machine in one makes the exit code
  // FLEET_STATES_FOUND.
  std::vector<std::string> fail_on;
  std::vector<std::string> inputs;
};

// What the report found, each machine counted once (an input that repeats
// a machine is not counted again), for its closing line.
struct FleetTotals {
  size_t machines = 0;
  size_t to_update = 0;    // one kit serves it, and its run decides UpdateHWOld.nsh
  size_t not_visited = 0;  // with records
  size_t without_kit = 0;
  size_t several_kits = 0;
  size_t not_smbios = 0;   // inputs that are not SMBIOS data
};

// "21 machines, 15 to update, 3 not visited, 2 without a kit": the totals
// a person looks for first; "not visited" with records, "without a kit"
// with a library or more than one kit, the others when they are not 0.
std::string TotalsLine(const FleetTotals &totals, bool records, bool kits_chosen);

// The settings of the command's runs, its kits aside: the image's options,
// and whether the kits are a library that machines choose from by product.
FleetSettings SettingsOf(const FleetCommand &command);

// Every kit of the command, read: the --kit folders, then the kits of each
// --kits folder; "." when neither is given. False with a one-line reason
// when a kit cannot be read or two of them are one folder.
bool LoadKits(const FleetCommand &command, std::vector<KitInfo> *kits, std::string *error);

// Makes the report, on standard output (descriptor 1) or in --output's
// file, and after --output's file one line on `err` with the totals. The
// rows wait in an unlinked temporary file until every machine is known:
// a machine that two inputs hold, and a UUID several machines share, are
// only known then. Returns the exit code; an output that cannot be
// written, or that is one of the report's inputs, is a one-line reason on
// `err` and status FLEET_CANNOT_RUN, with nothing left behind.
int RunFleetReport(const FleetCommand &command, std::ostream &err);

}  // namespace fleet
