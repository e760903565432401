// A kit folder checked against its SHA256SUMS on the host, by the image's
// own check (-verify's) run on the simulated firmware: what make-kit-image
// asks of a kit that brings its own SHA256SUMS, what the preview tool's
// --check-kit prints and what the fleet report shows for each kit.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct KitFolderCheck {
  bool intact = false;
  std::string line;      // the image's line: its ERROR line, or the -v line of an intact kit
  std::string identity;  // SHA-256 of SHA256SUMS in hex; empty when it could not be read
  unsigned files = 0;    // files SHA256SUMS lists
  std::vector<std::string> notes;  // "Note: ... is not in SHA256SUMS." for each file not listed
};

// Checks the kit in the host folder Dir, every listed file. False, with a
// reason, only when the check cannot run at all.
bool CheckKitFolder(const std::string &dir, KitFolderCheck *check, std::string *error);

}  // namespace sim
