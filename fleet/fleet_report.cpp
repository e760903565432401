// The fleet report's top level. The kit is read once, before any worker is
// forked, through the application's own configuration reader: the segment
// warnings then compare exactly the Version= text the runs compare.
#include "fleet/fleet_report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "app/update_config.h"
#include "fleet/row_workers.h"
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

bool LoadKit(const std::string &kit, const std::vector<std::string> &args, FleetSettings *settings,
             std::string *error) {
  struct stat info;
  if (stat(kit.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || access(kit.c_str(), R_OK | X_OK) != 0) {
    *error = "--kit " + kit + ": not a readable folder";
    return false;
  }
  sim::ImageRun run;
  run.dir = kit;
  run.main = ReadKitConfig;
  sim::ImageRunResult result;
  gKitConfigResult = ConfigResult::FileNotFound;
  if (!sim::RunImage(run, &result, error)) return false;
  if (gKitConfigResult == ConfigResult::FileNotFound) {
    *error = "--kit " + kit + ": UpdateConfig.ini not found";
    return false;
  }
  if (gKitConfigResult == ConfigResult::ReadError) {
    *error = "--kit " + kit + ": UpdateConfig.ini could not be read";
    return false;
  }
  settings->kit = kit;
  settings->args = args;
  // A kit without Version= is still a kit: every row shows the message.
  settings->has_configured_version = gKitConfigResult == ConfigResult::Loaded;
  settings->configured_version = settings->has_configured_version ? gKitConfig.WholeVersion : "";
  return true;
}

int RunFleetReport(const FleetCommand &command, std::ostream &out, std::ostream &err) {
  FleetSettings settings;
  std::string error;
  if (!LoadKit(command.kit, SplitOnBlanks(command.app_args), &settings, &error)) {
    err << "bios-update-select-fleet: " << error << "\n";
    return FLEET_CANNOT_RUN;
  }
  ReportWriter writer(command.format, out);
  sim::SmbiosInputSearch search(command.inputs);
  size_t rows = 0;
  auto last = std::chrono::steady_clock::now();
  MakeRows(&search, settings, command.jobs, [&](const FleetRow &row) {
    writer.Add(row);
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
  writer.Finish();
  return FLEET_REPORT_MADE;
}

}  // namespace fleet
