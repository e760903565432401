// Reading the report's kits. A kit is read once, before any worker is
// forked, through the application's own configuration reader: the segment
// warnings then compare exactly the Version= text the runs compare, and
// every run reads the same bytes without going back to the host file. A
// library is searched by the image's own -kits walk.
#include "fleet/report_kits.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/char_class.h"
#include "app/file_names.h"
#include "app/kit_library.h"
#include "app/model_check.h"
#include "app/options.h"
#include "app/update_config.h"
#include "fleet/library_query.h"
#include "fleet/row_text.h"
#include "fleet/shown_text.h"
#include "sim/host_file.h"
#include "sim/kit_check.h"
#include "sim/run.h"

namespace fleet {

std::vector<std::string> SplitOnBlanks(const std::string &text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (IsBlank(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// A kit that brings a SHA256SUMS is checked against it once, by the image's
// own -verify check: a damaged kit is a warning on its machines' rows
// before the medium ships, and its identity is what records are held to.
bool CheckKitSums(const std::string &folder, KitInfo *kit, std::string *error) {
  DIR *listing = opendir(folder.c_str());
  if (listing == nullptr) return true;
  for (dirent *entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
    kit->has_sums = kit->has_sums || strcasecmp(entry->d_name, KIT_SUMS_NAME) == 0;
  }
  closedir(listing);
  if (!kit->has_sums) return true;
  sim::KitFolderCheck check;
  if (!sim::CheckKitFolder(folder, &check, error)) {
    *error = "--kit " + folder + ": " + *error;
    return false;
  }
  kit->sums_intact = check.intact;
  kit->sums_line = check.line;
  kit->identity = check.identity;
  return true;
}

bool LoadKit(const std::string &folder, KitInfo *kit, std::string *error) {
  struct stat info;
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      access(folder.c_str(), R_OK | X_OK) != 0) {
    *error = "--kit " + folder + ": not a readable folder";
    return false;
  }
  std::string why;
  switch (sim::ReadFolderFile(folder, UPDATE_CONFIG_NAME, &kit->config, &why, KIT_CONFIG_LIMIT)) {
    case sim::FolderFile::NotFound:
      *error = "--kit " + folder + ": " UPDATE_CONFIG_NAME " not found";
      return false;
    case sim::FolderFile::Unreadable:
      *error = "--kit " + folder + ": " UPDATE_CONFIG_NAME " could not be read: " + why;
      return false;
    case sim::FolderFile::Read:
      break;
  }
  kit->has_config = true;
  sim::ImageRun run;
  run.dir = folder;
  run.files = {{UPDATE_CONFIG_NAME, kit->config}};
  // The configuration as the kit's run reads it, on the simulated firmware.
  UpdateConfig config{};
  ConfigResult read = ConfigResult::FileNotFound;
  run.body = [&config, &read] {
    read = LoadUpdateConfig(&config, true, true);
    return 0;
  };
  sim::ImageRunResult result;
  if (!sim::RunImage(run, &result, error)) return false;
  if (read != ConfigResult::Loaded && read != ConfigResult::VersionNotFound) {
    *error = "--kit " + folder + ": " UPDATE_CONFIG_NAME " could not be read";
    return false;
  }
  kit->folder = folder;
  kit->product_name = config.WholeProductName;
  kit->has_product_name = !kit->product_name.empty();
  kit->product_name_key = config.HasProductName;
  kit->has_hardware_ids = config.HasHardwareIds;
  kit->hardware_ids = config.HardwareIds;
  // A list the image refuses refuses every machine: the plan would be
  // "no kit" everywhere, for a typo.
  ModelVerdict verdict = CheckModel(nullptr, kit->has_hardware_ids ? kit->hardware_ids.c_str() : nullptr,
                                    nullptr, nullptr);
  if (verdict.Match == ModelMatch::Malformed) {
    *error = "--kit " + folder + ": " UPDATE_CONFIG_NAME ": HardwareIds= entry \"" +
             std::string(verdict.Entry, verdict.EntryLength) + "\" is not a hardware ID";
    return false;
  }
  // A kit without Version= is still a kit: every row shows the message.
  kit->has_version = read == ConfigResult::Loaded;
  kit->version = kit->has_version ? config.WholeVersion : "";
  return CheckKitSums(folder, kit, error);
}

bool FindKits(const std::string &library, std::vector<std::string> *folders, std::string *error) {
  LibraryAnswer answer;
  if (!QueryLibrary(library, &answer, error)) {
    *error = "--kits " + *error;
    return false;
  }
  if (answer.problem != LibraryProblem::None || answer.config_too_large) {
    std::string line = answer.line;
    if (line.compare(0, 7, "ERROR: ") == 0) line = line.substr(7);
    *error = "--kits " + library + ": " + line;
    // The host's own reason, where it has one, says what to mend.
    std::string bytes, why;
    if (answer.problem == LibraryProblem::ConfigUnreadable &&
        sim::ReadFolderFile(answer.where_folder, UPDATE_CONFIG_NAME, &bytes, &why,
                            KIT_CONFIG_LIMIT) == sim::FolderFile::Unreadable) {
      *error = "--kits " + library + ": kit " + answer.where_folder +
               ": " UPDATE_CONFIG_NAME " could not be read: " + why;
    }
    return false;
  }
  if (answer.kits.empty()) {
    *error = "--kits " + library + ": no kit in it (no folder holding " UPDATE_CONFIG_NAME ")";
    return false;
  }
  for (const LibraryKit &kit : answer.kits) folders->push_back(kit.folder);
  return true;
}

bool CheckAppArgs(const std::vector<std::string> &args, std::string *error) {
  std::vector<char *> argv;
  for (const std::string &word : args) argv.push_back(const_cast<char *>(word.c_str()));
  int argc = static_cast<int>(argv.size());
  int bad = NextNonOption(argc, argv.data(), 0);
  if (bad == argc) return true;
  if (bad + 1 == argc && strcasecmp(args[bad].c_str(), "-log") == 0) {
    *error = "--app-args: " + args[bad] + " needs its FILE after it";
    return false;
  }
  std::string names;
  for (int i = 0; RunOptionName(i) != nullptr; ++i) {
    names += std::string(i ? ", " : "") + RunOptionName(i);
  }
  *error = "--app-args: \"" + args[bad] + "\" is not an option of BiosUpdateSelect.efi; its " +
           "options are " + names + " FILE";
  return false;
}

void NameKitsAsShown(const std::vector<std::string> &shown_as, std::vector<KitInfo> *kits) {
  for (const std::string &rule : shown_as) {
    size_t equals = rule.find('=');
    if (equals == std::string::npos) continue;
    std::string folder = rule.substr(0, equals);
    for (KitInfo &kit : *kits) {
      if (kit.folder != folder && kit.folder.compare(0, folder.size() + 1, folder + "/") != 0) {
        continue;
      }
      std::string path = kit.folder.substr(folder.size());
      std::replace(path.begin(), path.end(), '/', '\\');
      kit.dir = kit.folder;
      kit.folder = rule.substr(equals + 1) + (path.empty() ? "\\" : path);
    }
  }
}

void CountKitUse(const FleetSettings &settings, const FleetRow &row, std::vector<KitUse> *uses) {
  if (!row.error.empty()) return;
  for (size_t k = 0; k < settings.kits.size(); ++k) {
    const KitInfo &kit = settings.kits[k];
    bool served = false;
    for (const KitRuns &runs : row.kits) served = served || runs.kit == kit.folder;
    if (!served) continue;
    KitUse &use = (*uses)[k];
    ++use.machines;
    if (kit.has_hardware_ids) {
      int id = CheckModel(nullptr, kit.hardware_ids.c_str(), nullptr, &row.facts.hardware_ids).Id;
      if (id >= 0) use.ids.insert(id);
    }
  }
}

void WarnOfKits(const FleetSettings &settings, const std::vector<KitUse> &uses, size_t rows,
                const std::string &name, std::ostream &err) {
  // One kit runs on every machine: the rows' own warnings say where it is
  // another model's.
  if (rows == 0 || (settings.kits.size() == 1 && !settings.library)) return;
  for (size_t k = 0; k < settings.kits.size(); ++k) {
    const KitInfo &kit = settings.kits[k];
    const KitUse &use = uses[k];
    if (use.machines == 0) {
      err << name << ": warning: kit " << Cell(kit.folder)
          << ": its model keys serve no machine of the fleet\n";
    } else if (kit.has_hardware_ids && !kit.product_name_key && !kit.has_product_name &&
               std::all_of(use.ids.begin(), use.ids.end(),
                           [](int id) { return id == 11 || id == 12 || id == 14; })) {
      std::string names;
      for (int id : use.ids) names += (names.empty() ? "" : ", ") + HardwareIdName(id);
      err << name << ": warning: kit " << Cell(kit.folder) << ": keyed only by "
          << names << ", it serves every machine of a maker or family\n";
    }
  }
}

}  // namespace fleet
