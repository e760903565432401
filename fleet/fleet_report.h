// The fleet report as a whole, below its command line: the kit's reading,
// the search of the inputs, the rows and the chosen form.
//
//   bios-update-select-fleet [--kit DIR] [--app-args "ARGS"]
//                            [--format table|csv|json] [--jobs N] INPUT...
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"
#include "fleet/report_format.h"

namespace fleet {

// Exit codes: the report was made (whatever the machines' outcomes); bad
// usage or a kit whose UpdateConfig.ini cannot be read.
constexpr int FLEET_REPORT_MADE = 0;
constexpr int FLEET_CANNOT_RUN = 2;

struct FleetCommand {
  std::string kit = ".";
  std::string app_args;
  Format format = Format::Csv;
  unsigned jobs = 1;
  bool progress = false;  // a running count on the error stream
  std::vector<std::string> inputs;
};

// The image's options as the kit's startup line would pass them: split on
// blanks (spaces and tabs).
std::vector<std::string> SplitOnBlanks(const std::string &text);

// Reads the kit's UpdateConfig.ini the way the application does (its own
// reader, on the simulated firmware) and fills in the settings. False with
// a one-line reason when the folder or the file cannot be read.
bool LoadKit(const std::string &kit, const std::vector<std::string> &args, FleetSettings *settings,
             std::string *error);

// Makes the report. Returns the exit code.
int RunFleetReport(const FleetCommand &command, std::ostream &out, std::ostream &err);

}  // namespace fleet
