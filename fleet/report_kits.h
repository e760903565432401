// The report's kits as it reads them: each kit's UpdateConfig.ini through
// the application's own reader, a library's kits through the image's own
// -kits walk, and the image's options checked word by word; then what the
// plan says of each kit once every machine is known.
#pragma once

#include <cstddef>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

namespace fleet {

// The image's options as the kit's startup line would pass them: split on
// blanks (spaces and tabs).
std::vector<std::string> SplitOnBlanks(const std::string &text);

// Reads the kit's UpdateConfig.ini the way the application does (its own
// reader, on the simulated firmware, whole values included). False with a
// one-line reason when the folder or the file cannot be read.
bool LoadKit(const std::string &folder, KitInfo *kit, std::string *error);

// The kit folders under `library`, found by the image's own -kits walk with
// `library` served as a medium's folder kits: every folder that holds an
// UpdateConfig.ini, at most four levels deep (a kit's own subfolders are
// not searched), in listing order (byte order of the names). False with a
// one-line reason when the folder cannot be read, holds no kit, or holds
// what the image would refuse (a damaged name, a kit it cannot read).
bool FindKits(const std::string &library, std::vector<std::string> *folders, std::string *error);

// Whether every word of `args` is one of the image's options: the image
// passes over any other, so a misspelt -prodcut would leave its check off
// on the machines while the report shows it on. False with a one-line
// reason naming the word and the options there are.
bool CheckAppArgs(const std::vector<std::string> &args, std::string *error);

// Names each kit read under a FOLDER of `shown_as` (FOLDER=NAME) as
// NAME\PATH, PATH its place under FOLDER, and keeps where it is read.
void NameKitsAsShown(const std::vector<std::string> &shown_as, std::vector<KitInfo> *kits);

// What the plan learns of each kit from the machines it serves: how many,
// and by which hardware IDs. One per kit of the settings, counted row by
// row.
struct KitUse {
  size_t machines = 0;
  std::set<int> ids;  // the HardwareID-n by which its list served
};
void CountKitUse(const FleetSettings &settings, const FleetRow &row, std::vector<KitUse> *uses);

// Warns, one line each on `err` after `name`, of a kit whose keys serve no
// machine of the fleet (a kit for nobody, or the inventory lacks its
// machines) and of one keyed only by HardwareID-11, -12 or -14 (it serves
// a whole family or maker, whatever their boards and BIOSes). Nothing with
// no rows, or with one kit that runs on every machine.
void WarnOfKits(const FleetSettings &settings, const std::vector<KitUse> &uses, size_t rows,
                const std::string &name, std::ostream &err);

}  // namespace fleet
