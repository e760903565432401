// What the image sees in a library of kits, asked of its own walk: the kits
// it finds (in its order, with each one's ProductName=), the problem that
// stops it, and the bounds it keeps. The fleet report plans
// with it, and the kit tools (make-kit-image, kit-run, fleet-report
// --medium) ask it through bios-update-select-kits, so no tool keeps a copy
// of the image's rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/kit_library.h"

namespace fleet {

// A kit's UpdateConfig.ini is a few lines; the application searches it
// byte by byte on every run, so a huge one would make a report of hours.
// Every kit tool refuses a larger one rather than plan with part of it.
constexpr uint64_t KIT_CONFIG_LIMIT = 1u << 20;

struct LibraryKit {
  std::string path;    // as the image names it: "kits\\servers\\bx" (UTF-8)
  std::string folder;  // the host folder: ROOT/servers/bx
  std::string product_names;  // its whole ProductName= value
};

struct LibraryAnswer {
  std::vector<LibraryKit> kits;
  // Problem None: the walk went through. ConfigTooLarge is the tools' own.
  LibraryProblem problem = LibraryProblem::None;
  bool config_too_large = false;
  std::string where;         // the image's name of the folder, "kits\\..."
  std::string where_folder;  // the same on the host
  std::string line;          // the line the image prints, without its line end
};

// Walks the host folder `root` as the image walks the folder kits of its
// current directory, on the simulated firmware. False with a one-line
// reason when the walk cannot be run (root is no readable folder, or holds
// a link to a folder that holds it).
bool QueryLibrary(const std::string &root, LibraryAnswer *answer, std::string *error);

// The answer, the image's bounds, its option words (listed, and each under
// the name of what it switches on: "kits": "-kits") and the names of its
// files on a medium ("file_names": "config", "scripts" "old" and "new",
// "sums", "library") as one JSON object.
std::string LibraryAnswerJson(const LibraryAnswer &answer);

// The problem's name in that JSON: "path-too-long", ...; "" for none.
const char *LibraryProblemName(const LibraryAnswer &answer);

}  // namespace fleet
