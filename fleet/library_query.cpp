// The library as the image walks it: its own WalkKitLibrary runs on the
// simulated firmware with the host folder served as kits, and the line it
// would print is taken from the console. The walk's results come back
// through the context the visitor is given; nothing outlives the call.
#include "fleet/library_query.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/explain.h"
#include "app/file_names.h"
#include "app/kit_sums.h"
#include "app/options.h"
#include "sim/host_file.h"
#include "sim/run.h"

namespace fleet {
namespace {

struct WalkResult {
  std::vector<std::pair<std::u16string, std::string>> kits;  // path, ProductName=
  LibraryWalk walk;
  bool failed = false;
};

// The names the tools ask the option words by: RunOptions' flags.
struct OptionName {
  const char *name;
  size_t flag;
};
constexpr OptionName OPTION_NAMES[] = {
    {"verbose", offsetof(RunOptions, Verbose)},   {"decide_only", offsetof(RunOptions, DecideOnly)},
    {"segments", offsetof(RunOptions, Segments)}, {"product", offsetof(RunOptions, Product)},
    {"smbios3", offsetof(RunOptions, Smbios3)},   {"kits", offsetof(RunOptions, Kits)},
    {"verify", offsetof(RunOptions, Verify)},     {"hwids", offsetof(RunOptions, HardwareIds)},
};
static_assert(sizeof(OPTION_NAMES) / sizeof(OPTION_NAMES[0]) == OPTION_WORD_COUNT,
              "a name for each option word");

void CollectKit(const char16_t *Path, const UpdateConfig *Config, void *Context) {
  static_cast<WalkResult *>(Context)->kits.push_back({Path, Config->WholeProductName});
}

int WalkLibrary(WalkResult *result) {
  if (!WalkKitLibrary(CollectKit, result, &result->walk)) {
    TellLibraryProblem(result->walk.Problem, result->walk.Where);
    result->failed = true;
  }
  return 0;
}

// "kits\\A\\B" as the image names a folder of the library, "ROOT/A/B" on the host.
std::string HostFolder(const std::string &root, const std::string &path) {
  std::string host = path.size() > KIT_LIBRARY_UNITS ? path.substr(KIT_LIBRARY_UNITS) : "";
  std::replace(host.begin(), host.end(), '\\', '/');
  return root + host;
}

// A link in the library to a folder that holds it takes the walk round
// through the folders above, where it meets kits and problems that are not
// the library's. The folders the walk named are checked on the host, one
// name after another below the root, and such a link is named as what it is.
bool LinkUpwardsOn(const std::string &root, const std::string &folder, std::string *error) {
  char *resolved = realpath(root.c_str(), nullptr);
  if (resolved == nullptr) return false;
  std::string real = resolved;
  free(resolved);
  std::string path = root;
  size_t at = root.size();
  while (at < folder.size()) {
    size_t next = folder.find('/', at + 1);
    if (next == std::string::npos) next = folder.size();
    path = folder.substr(0, next);
    at = next;
    struct stat link;
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) continue;
    char *to = realpath(path.c_str(), nullptr);
    std::string points = to != nullptr ? to : "";
    free(to);
    if (!points.empty() &&
        (real == points || real.compare(0, points.size() + 1, points + "/") == 0)) {
      *error = path + " is a link to " + points + ", a folder that holds the library";
      return true;
    }
  }
  return false;
}

std::string LineOf(const std::vector<sim::Event> &events) {
  for (const sim::Event &event : events) {
    if (event.kind != sim::Event::Console) continue;
    std::string line = sim::TextToUtf8(event.text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
  }
  return "";
}

}  // namespace

bool QueryLibrary(const std::string &library, LibraryAnswer *answer, std::string *error) {
  std::string root = library;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat info;
  if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      access(root.c_str(), R_OK | X_OK) != 0) {
    *error = library + ": not a readable folder";
    return false;
  }
  WalkResult result;
  sim::ImageRun run;
  run.kits_dir = root;
  run.body = [&result] { return WalkLibrary(&result); };
  sim::ImageRunResult ran;
  if (!sim::RunImage(run, &ran, error)) return false;
  *answer = LibraryAnswer{};
  for (const auto &kit : result.kits) {
    std::string path = sim::TextToUtf8(kit.first);
    answer->kits.push_back({path, HostFolder(root, path), kit.second});
  }
  std::vector<std::string> met;
  for (const LibraryKit &kit : answer->kits) met.push_back(kit.folder);
  if (result.failed) met.push_back(HostFolder(root, sim::TextToUtf8(result.walk.Where)));
  for (const std::string &folder : met) {
    if (LinkUpwardsOn(root, folder, error)) return false;
  }
  if (result.failed) {
    answer->problem = result.walk.Problem;
    answer->where = sim::TextToUtf8(result.walk.Where);
    answer->where_folder = HostFolder(root, answer->where);
    answer->line = LineOf(ran.events);
    return true;
  }
  // The tools' own bound: a kit whose configuration they would not read whole.
  for (const LibraryKit &kit : answer->kits) {
    std::string entry;
    struct stat file;
    if (sim::FindFolderEntry(kit.folder, UPDATE_CONFIG_NAME, &entry) &&
        stat((kit.folder + "/" + entry).c_str(), &file) == 0 &&
        static_cast<uint64_t>(file.st_size) > KIT_CONFIG_LIMIT) {
      answer->config_too_large = true;
      answer->where = kit.path;
      answer->where_folder = kit.folder;
      answer->line = kit.path + "\\" UPDATE_CONFIG_NAME " is larger than 1 MiB (" +
                     std::to_string(file.st_size) + " bytes); a kit's configuration is a few lines";
      break;
    }
  }
  static_assert(KIT_CONFIG_LIMIT == 1u << 20, "the line names the bound");
  return true;
}

const char *LibraryProblemName(const LibraryAnswer &answer) {
  if (answer.config_too_large) return "config-too-large";
  // In the order of LibraryProblem.
  static const char *const NAMES[] = {
      "",           "no-library",  "folder-unreadable", "name-too-long",
      "name-not-text", "too-large", "config-unreadable", "not-entered",
      "path-too-long", "name-blank", "config-folder"};
  static_assert(static_cast<int>(LibraryProblem::ConfigFolder) == 10, "a name for each problem");
  return NAMES[static_cast<int>(answer.problem)];
}

std::string LibraryAnswerJson(const LibraryAnswer &answer) {
  using nlohmann::json;
  json kits = json::array();
  for (const LibraryKit &kit : answer.kits) {
    kits.push_back({{"path", kit.path}, {"folder", kit.folder},
                    {"product_names", kit.product_names}});
  }
  json problem = nullptr;
  if (answer.problem != LibraryProblem::None || answer.config_too_large) {
    problem = {{"kind", LibraryProblemName(answer)}, {"where", answer.where},
               {"folder", answer.where_folder}, {"line", answer.line}};
  }
  json options = json::array(), value_options = json::array();
  for (int i = 0; RunOptionName(i) != nullptr; ++i) {
    (i < OPTION_WORD_COUNT ? options : value_options).push_back(RunOptionName(i));
  }
  // Each word under the name of what it switches on, so a tool that adds
  // -kits or -log to a line asks for the word rather than spelling it.
  json words = {{"log", RunOptionName(OPTION_WORD_COUNT)}};
  // Flag option I is RunOptions' I-th bool, at offset I.
  for (int i = 0; i < OPTION_WORD_COUNT; ++i) {
    for (const OptionName &name : OPTION_NAMES) {
      if (name.flag == size_t(i)) words[name.name] = RunOptionName(i);
    }
  }
  json out = {
      {"kits", kits},
      {"problem", problem},
      {"bounds",
       {{"depth", KIT_SEARCH_DEPTH},
        {"folders", KIT_FOLDER_LIMIT},
        {"entries", KIT_ENTRY_LIMIT},
        {"path_units", KIT_PATH_LIMIT},
        {"config_bytes", KIT_CONFIG_LIMIT},
        {"sums_lines", SUMS_LINE_LIMIT},
        {"sums_bytes", SUMS_SIZE_LIMIT}}},
      {"options", options},
      {"value_options", value_options},
      {"option_words", words},
      // The names the image opens, runs and lists on a medium, so a tool
      // that lays out or reads a kit asks for them rather than spelling them.
      {"file_names",
       {{"config", UPDATE_CONFIG_NAME},
        {"scripts", {{"old", UPDATE_SCRIPT_OLD_NAME}, {"new", UPDATE_SCRIPT_NEW_NAME}}},
        {"sums", KIT_SUMS_NAME},
        {"library", KIT_LIBRARY_NAME}}},
  };
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace fleet
