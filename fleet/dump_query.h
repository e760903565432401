// What the image would read in a machine's SMBIOS dump, asked of its own
// code: the dump read as the fleet report reads it (a `dmidecode
// --dump-bin` file or a copy of /sys/firmware/dmi/tables), published by the
// simulated firmware and walked by the image's structure walk. The kit
// tools ask it through bios-update-select-kits --dump, so that kit-run
// shows a VM exactly the structures the machine's run would visit, without
// a walk of its own.
#pragma once

#include <string>
#include <vector>

#include "fleet/machine_facts.h"

namespace fleet {

struct DumpAnswer {
  std::string path;
  std::string problem;  // the one line that makes the input unusable; "" when read
  MachineFacts facts;   // the entry point, the declared bounds, where the walk ended
  std::vector<VisitedStructure> structures;  // each structure the walk visits, in order
  std::string stop;  // why the walk ended before the table's end, "" when it did not
};

DumpAnswer QueryDump(const std::string &path);

// The answers, the structure types the tools name and the largest table
// taken, as one JSON object.
std::string DumpAnswersJson(const std::vector<DumpAnswer> &answers);

}  // namespace fleet
