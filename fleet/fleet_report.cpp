// The fleet report's top level. The kit is read once, before any worker is
// forked, through the application's own configuration reader: the segment
// warnings then compare exactly the Version= text the runs compare, and
// every run reads the same bytes without going back to the host file.
#include "fleet/fleet_report.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "app/explain.h"
#include "app/kit_library.h"
#include "app/options.h"
#include "app/update_config.h"
#include "fleet/report_output.h"
#include "fleet/rollout_records.h"
#include "fleet/row_workers.h"
#include "sim/host_file.h"
#include "sim/host_output.h"
#include "sim/run.h"
#include "sim/smbios_input.h"

namespace fleet {
namespace {

// The configuration as the kit's run reads it; filled by ReadKitConfig,
// which runs as the application's body on the simulated firmware.
UpdateConfig gKitConfig;
ConfigResult gKitConfigResult;

int ReadKitConfig(int, char **) {
  gKitConfig = UpdateConfig{};
  gKitConfigResult = LoadUpdateConfig(&gKitConfig, true);
  return 0;
}

}  // namespace

std::vector<std::string> SplitOnBlanks(const std::string &text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool LoadKit(const std::string &folder, KitInfo *kit, std::string *error) {
  struct stat info;
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      access(folder.c_str(), R_OK | X_OK) != 0) {
    *error = "--kit " + folder + ": not a readable folder";
    return false;
  }
  std::string why;
  switch (sim::ReadFolderFile(folder, "UpdateConfig.ini", &kit->config, &why, KIT_CONFIG_LIMIT)) {
    case sim::FolderFile::NotFound:
      *error = "--kit " + folder + ": UpdateConfig.ini not found";
      return false;
    case sim::FolderFile::Unreadable:
      *error = "--kit " + folder + ": UpdateConfig.ini could not be read: " + why;
      return false;
    case sim::FolderFile::Read:
      break;
  }
  kit->has_config = true;
  sim::ImageRun run;
  run.dir = folder;
  run.files = {{"UpdateConfig.ini", kit->config}};
  run.main = ReadKitConfig;
  sim::ImageRunResult result;
  gKitConfigResult = ConfigResult::FileNotFound;
  if (!sim::RunImage(run, &result, error)) return false;
  if (gKitConfigResult != ConfigResult::Loaded && gKitConfigResult != ConfigResult::VersionNotFound) {
    *error = "--kit " + folder + ": UpdateConfig.ini could not be read";
    return false;
  }
  kit->folder = folder;
  kit->product_name = gKitConfig.WholeProductName;
  kit->has_product_name = !kit->product_name.empty();
  // A kit without Version= is still a kit: every row shows the message.
  kit->has_version = gKitConfigResult == ConfigResult::Loaded;
  kit->version = kit->has_version ? gKitConfig.WholeVersion : "";
  return true;
}

namespace {

using FolderId = std::pair<dev_t, ino_t>;

}  // namespace

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
        sim::ReadFolderFile(answer.where_folder, "UpdateConfig.ini", &bytes, &why,
                            KIT_CONFIG_LIMIT) == sim::FolderFile::Unreadable) {
      *error = "--kits " + library + ": kit " + answer.where_folder +
               ": UpdateConfig.ini could not be read: " + why;
    }
    return false;
  }
  if (answer.kits.empty()) {
    *error = "--kits " + library + ": no kit in it (no folder holding UpdateConfig.ini)";
    return false;
  }
  for (const LibraryKit &kit : answer.kits) folders->push_back(kit.folder);
  return true;
}

FleetSettings SettingsOf(const FleetCommand &command) {
  FleetSettings settings;
  settings.args = SplitOnBlanks(command.app_args);
  settings.library = !command.libraries.empty();
  return settings;
}

bool LoadKits(const FleetCommand &command, std::vector<KitInfo> *kits, std::string *error) {
  std::vector<std::string> folders = command.kits;
  for (const std::string &library : command.libraries) {
    if (!FindKits(library, &folders, error)) return false;
  }
  if (folders.empty()) folders.push_back(".");
  // Two names of one folder would serve every one of its machines twice
  // over, as "several kits": a mistake in the library, not a choice.
  std::vector<std::pair<FolderId, std::string>> ids;
  for (const std::string &folder : folders) {
    KitInfo kit;
    if (!LoadKit(folder, &kit, error)) return false;
    struct stat info;
    stat(folder.c_str(), &info);
    for (const auto &id : ids) {
      if (id.first == FolderId{info.st_dev, info.st_ino}) {
        *error = "kits " + id.second + " and " + folder + " are the same folder";
        return false;
      }
    }
    ids.push_back({{info.st_dev, info.st_ino}, folder});
    kits->push_back(kit);
  }
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

namespace {

// Every records file the arguments name; damaged lines are warned of and
// skipped.
bool LoadRecords(const std::vector<std::string> &files, RecordSet *records, std::ostream &err,
                 std::string *error) {
  for (const std::string &file : files) {
    if (!records->ReadFile(file, error)) return false;
  }
  for (const std::string &warning : records->Warnings()) {
    err << "bios-update-select-fleet: warning: " << Cell(warning) << "\n";
  }
  return true;
}

std::string Named(bool has, const std::string &text) { return has ? text : "-"; }

std::string UnmatchedText(const RolloutRecord &record) {
  return record.file + ":" + std::to_string(record.line) + ": serial " +
         Named(record.has_serial, record.serial) + ", product " +
         Named(record.has_product, record.product) + ", uuid " + Named(record.has_uuid, record.uuid);
}

}  // namespace

int RunFleetReport(const FleetCommand &command, std::ostream &err) {
  auto fail = [&err](const std::string &why) {
    err << "bios-update-select-fleet: " << Cell(why) << "\n";  // one line, whatever it names
    return FLEET_CANNOT_RUN;
  };
  FleetSettings settings = SettingsOf(command);
  std::string error;
  if (!CheckAppArgs(settings.args, &error)) return fail(error);
  if (!LoadKits(command, &settings.kits, &error)) return fail(error);
  RecordSet records;
  bool with_records = !command.records.empty();
  std::vector<std::string> record_files;
  if (with_records && (!ListRecordFiles(command.records, &record_files, &error) ||
                       !LoadRecords(record_files, &records, err, &error))) {
    return fail(error);
  }
  NameKitsAsShown(command.shown_as, &settings.kits);
  sim::FdBuffer standard_buffer(STDOUT_FILENO);
  std::ostream standard_out(&standard_buffer);
  std::unique_ptr<ReportFile> file;
  if (!command.output.empty()) {
    file.reset(new ReportFile(command.output));
    if (!file->Open(&error)) return fail(error);
    std::vector<std::string> inputs = command.inputs;
    inputs.insert(inputs.end(), record_files.begin(), record_files.end());
    for (const KitInfo &kit : settings.kits) {
      std::string folder = kit.dir.empty() ? kit.folder : kit.dir, entry;
      if (sim::FindFolderEntry(folder, "UpdateConfig.ini", &entry)) inputs.push_back(folder + "/" + entry);
    }
    for (const std::string &input : inputs) {
      if (file->IsInput(input)) return fail("--output " + command.output + ": is an input (" + input + ")");
    }
  } else if (command.standard_output_closed) {
    return fail("standard output is closed: give --output FILE");
  }
  std::ostream &out = file ? file->Stream() : standard_out;
  ReportWriter writer(command.format, out, settings.kits, with_records);
  sim::SmbiosInputSearch search(command.inputs);
  size_t rows = 0;
  std::string clash;  // an input found by the search that is the output's file
  auto last = std::chrono::steady_clock::now();
  MakeRows(&search, settings, command.jobs, [&](const FleetRow &made) {
    if (file && file->IsInput(made.input)) {
      clash = made.input;
      return false;
    }
    if (!with_records) {
      writer.Add(made);
    } else {
      FleetRow row = made;
      ApplyRecords(&records, &row);
      writer.Add(row);
    }
    ++rows;
    if (command.progress) {
      auto now = std::chrono::steady_clock::now();
      if (now - last > std::chrono::milliseconds(200)) {
        err << "\rbios-update-select-fleet: " << rows << " machines" << std::flush;
        last = now;
      }
    }
    return static_cast<bool>(out);
  });
  if (command.progress) err << "\rbios-update-select-fleet: " << rows << " machines\n" << std::flush;
  if (!clash.empty()) return fail("--output " + command.output + ": is an input (" + clash + ")");
  if (with_records) {
    // Machines the inventory lacks: the table lists them in its summary,
    // every other form on the error stream.
    std::vector<std::string> unmatched;
    for (const RolloutRecord *record : records.Unmatched()) unmatched.push_back(UnmatchedText(*record));
    writer.SetUnmatched(unmatched);
    if (command.format != Format::Table && !unmatched.empty()) {
      err << "bios-update-select-fleet: " << unmatched.size()
          << (unmatched.size() == 1 ? " record matches" : " records match") << " no machine:\n";
      for (const std::string &line : unmatched) err << "  " << Cell(line) << "\n";
    }
  }
  writer.Finish();
  if (file) return file->Commit(&error) ? FLEET_REPORT_MADE : fail(error);
  standard_out.flush();
  if (standard_buffer.Error() != 0) {
    return fail(std::string("standard output: cannot be written: ") + std::strerror(standard_buffer.Error()));
  }
  return FLEET_REPORT_MADE;
}

}  // namespace fleet
