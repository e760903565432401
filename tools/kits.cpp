// bios-update-select-kits: what the image sees in a library of kits, for
// the kit tools, as one JSON object on standard output: the kits its own
// walk finds, the problem that stops it, the folders and entries it met,
// its bounds and its option words.
//
//   bios-update-select-kits [LIBRARY]
//
// Without LIBRARY only the bounds and option words (no kits, no problem).
// Exit 0 with the answer (a problem is part of it), 2 with one line when
// the walk cannot run.
#include <iostream>
#include <string>

#include "fleet/library_query.h"

int main(int argc, char **argv) {
  if (argc > 2 || (argc == 2 && std::string(argv[1]).compare(0, 1, "-") == 0)) {
    std::cerr << "usage: bios-update-select-kits [LIBRARY]\n";
    return 2;
  }
  fleet::LibraryAnswer answer;
  std::string error;
  if (argc == 2 && !fleet::QueryLibrary(argv[1], &answer, &error)) {
    std::cerr << "bios-update-select-kits: " << error << "\n";
    return 2;
  }
  std::cout << fleet::LibraryAnswerJson(answer) << "\n";
  std::cout.flush();
  return std::cout.good() ? 0 : 2;
}
