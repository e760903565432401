// bios-update-select-kits: what the image sees in a library of kits, for
// the kit tools, as one JSON object on standard output: the kits its own
// walk finds, the problem that stops it, its bounds, its option words and
// the names of its files on a medium.
//
//   bios-update-select-kits [LIBRARY]
//   bios-update-select-kits --check-kit KIT
//   bios-update-select-kits --model-keys KIT
//   bios-update-select-kits --dump FILE...
//
// Without LIBRARY only the bounds, option words and file names (no kits, no
// problem); "option_words" names each word by what it switches on ("kits":
// "-kits"), "file_names" the configuration, the two scripts ("old", "new"),
// a kit's digest list ("sums") and the library folder ("library").
// --check-kit: the image's -verify check of the kit folder KIT against its
// SHA256SUMS: "intact", "line", "identity", "files" and "notes".
// --model-keys: the kit's UpdateConfig.ini read as the image reads it,
// "product_names" and "hardware_ids" (null when the kit lacks the key); a
// HardwareIds= entry the image's model check refuses is the one line.
// --dump: each SMBIOS dump (a dmidecode --dump-bin file or a copy of
// /sys/firmware/dmi/tables) as the image walks it: "entry_point", "version",
// "declared_count", "table_length", each visited structure's "offset",
// "type", "handle" and "bytes" (hex), and "stop", why the walk ended early;
// or the "problem" that makes the file unusable. Beside them the structure
// "types" the tools name and the "table_limit".
// Exit 0 with the answer (a problem is part of it), 2 with one line when
// the walk cannot run.
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fleet/dump_query.h"
#include "fleet/fleet_report.h"
#include "fleet/report_kits.h"
#include "fleet/library_query.h"
#include "sim/kit_check.h"

int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "--check-kit") {
    sim::KitFolderCheck check;
    std::string error;
    if (!sim::CheckKitFolder(argv[2], &check, &error)) {
      std::cerr << "bios-update-select-kits: " << argv[2] << ": " << error << "\n";
      return 2;
    }
    nlohmann::json answer = {{"intact", check.intact}, {"line", check.line},
                             {"identity", check.identity}, {"files", check.files},
                             {"notes", check.notes}};
    std::cout << answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    std::cout.flush();
    return std::cout.good() ? 0 : 2;
  }
  if (argc == 3 && std::string(argv[1]) == "--model-keys") {
    fleet::KitInfo kit;
    std::string error;
    if (!fleet::LoadKit(argv[2], &kit, &error)) {
      // The report's "--kit FOLDER: ..." names the folder alone here.
      if (error.compare(0, 6, "--kit ") == 0) error = error.substr(6);
      std::cerr << "bios-update-select-kits: " << error << "\n";
      return 2;
    }
    using nlohmann::json;
    json answer = {{"product_names", kit.product_name_key ? json(kit.product_name) : json()},
                   {"hardware_ids", kit.has_hardware_ids ? json(kit.hardware_ids) : json()}};
    std::cout << answer.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    std::cout.flush();
    return std::cout.good() ? 0 : 2;
  }
  if (argc >= 3 && std::string(argv[1]) == "--dump") {
    std::vector<fleet::DumpAnswer> answers;
    for (int i = 2; i < argc; ++i) answers.push_back(fleet::QueryDump(argv[i]));
    std::cout << fleet::DumpAnswersJson(answers) << "\n";
    std::cout.flush();
    return std::cout.good() ? 0 : 2;
  }
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
