// Reading run records. A stick that was pulled or lost power mid-write may
// hold a cut line, and a records file may come from anywhere: every line
// is parsed on its own, bounded, and one that is not a record is named and
// skipped, never taken for part of another.
#include "fleet/rollout_records.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "sim/host_file.h"

namespace fleet {
namespace {

using Json = nlohmann::json;

// Reads an optional text key: absent or null leaves *has false; a value of
// another type makes the line no record.
bool OptionalText(const Json &json, const char *key, bool *has, std::string *text,
                  std::string *why) {
  *has = false;
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return true;
  if (!it->is_string()) {
    *why = std::string("\"") + key + "\" is neither a text nor null";
    return false;
  }
  *has = true;
  *text = it->get<std::string>();
  return true;
}

std::string TrimTrailingBlanks(const std::string &text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(0, end);
}

std::string Lower(std::string text) {
  for (char &c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

bool IsRecordFileName(const std::string &name) {
  return name.size() > 6 && name.compare(name.size() - 6, 6, ".jsonl") == 0;
}

using FolderId = std::pair<dev_t, ino_t>;

void SearchFolder(const std::string &folder, std::set<FolderId> *seen,
                  std::vector<std::string> *files) {
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string path = folder + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (seen->insert({info.st_dev, info.st_ino}).second) SearchFolder(path, seen, files);
    } else if (S_ISREG(info.st_mode) && IsRecordFileName(name)) {
      files->push_back(path);
    }
  }
}

// Whether record `a` is later than `b`: by time where both have one that
// differs, else by the order they were read in (`a_index` > `b_index`).
bool Later(const RolloutRecord &a, size_t a_index, const RolloutRecord &b, size_t b_index) {
  if (a.has_time && b.has_time && a.time != b.time) return a.time > b.time;
  return a_index > b_index;
}

}  // namespace

const char *const ROLLOUT_STATES[4] = {"at-target", "started-still-below", "refused",
                                       "not-visited"};

bool ParseRecordLine(const std::string &line, RolloutRecord *record, std::string *why) {
  Json json = Json::parse(line, nullptr, false);
  if (json.is_discarded()) {
    *why = "not JSON (a cut or damaged line)";
    return false;
  }
  if (!json.is_object()) {
    *why = "not a JSON object";
    return false;
  }
  auto ran = json.find("ran");
  if (ran == json.end() || !ran->is_boolean()) {
    *why = "no \"ran\" true or false";
    return false;
  }
  if (!json.contains("script")) {
    *why = "no \"script\"";
    return false;
  }
  record->ran = ran->get<bool>();
  bool has_status = false;
  return OptionalText(json, "time", &record->has_time, &record->time, why) &&
         OptionalText(json, "serial", &record->has_serial, &record->serial, why) &&
         OptionalText(json, "product", &record->has_product, &record->product, why) &&
         OptionalText(json, "uuid", &record->has_uuid, &record->uuid, why) &&
         OptionalText(json, "script", &record->has_script, &record->script, why) &&
         OptionalText(json, "status", &has_status, &record->status, why) &&
         OptionalText(json, "message", &record->has_message, &record->message, why);
}

bool ListRecordFiles(const std::vector<std::string> &arguments, std::vector<std::string> *files,
                     std::string *error) {
  for (const std::string &argument : arguments) {
    struct stat info;
    if (stat(argument.c_str(), &info) != 0) {
      *error = "--records " + argument + ": not found";
      return false;
    }
    if (S_ISREG(info.st_mode)) {
      files->push_back(argument);
    } else if (S_ISDIR(info.st_mode)) {
      std::set<FolderId> seen = {{info.st_dev, info.st_ino}};
      size_t before = files->size();
      std::string root = argument;
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      SearchFolder(root, &seen, files);
      if (files->size() == before) {
        *error = "--records " + argument + ": no *.jsonl file in it";
        return false;
      }
    } else {
      *error = "--records " + argument + ": not a file or a folder";
      return false;
    }
  }
  return true;
}

void RecordSet::Read(const std::string &name, std::istream &in) {
  indexed_ = false;
  by_uuid_.clear();
  by_serial_.clear();
  std::string line;
  size_t number = 0;
  bool more = true;
  while (more) {
    // A line is read up to its LF, at most RECORD_LINE_LIMIT bytes of it.
    line.clear();
    bool too_long = false;
    int c;
    while ((c = in.get()) != EOF && c != '\n') {
      if (line.size() < RECORD_LINE_LIMIT) {
        line.push_back(static_cast<char>(c));
      } else {
        too_long = true;
      }
    }
    more = c != EOF;
    if (!more && line.empty()) break;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string where = name + ":" + std::to_string(number);
    RolloutRecord record;
    std::string why;
    if (too_long) {
      why = "longer than " + std::to_string(RECORD_LINE_LIMIT) + " bytes";
    } else if (ParseRecordLine(line, &record, &why)) {
      record.file = name;
      record.line = number;
      records_.push_back(record);
      matched_.push_back(false);
      continue;
    }
    warnings_.push_back(where + ": " + why + "; skipped");
  }
}

bool RecordSet::ReadFile(const std::string &path, std::string *error) {
  std::string bytes, why;
  if (!sim::ReadRegularFile(path, RECORD_FILE_LIMIT, &bytes, &why)) {
    *error = "--records " + path + ": " + why;
    return false;
  }
  std::istringstream in(bytes);
  Read(path, in);
  return true;
}

void RecordSet::Index() {
  indexed_ = true;
  for (size_t i = 0; i < records_.size(); ++i) {
    const RolloutRecord &record = records_[i];
    if (record.has_uuid) by_uuid_[Lower(record.uuid)].push_back(i);
    std::string serial = TrimTrailingBlanks(record.serial);
    // An empty serial number tells no machine from another.
    if (record.has_serial && record.has_product && !serial.empty()) {
      by_serial_[{serial, TrimTrailingBlanks(record.product)}].push_back(i);
    }
  }
}

const RolloutRecord *RecordSet::Latest(const FleetRow &row) {
  if (!indexed_) Index();
  // Where both sides have a UUID it decides alone; serial number and
  // product join the rest.
  std::vector<size_t> candidates;
  if (row.has_uuid) {
    auto found = by_uuid_.find(Lower(row.uuid));
    if (found != by_uuid_.end()) candidates = found->second;
  }
  if (row.has_serial && row.has_product) {
    auto found = by_serial_.find({TrimTrailingBlanks(row.serial), TrimTrailingBlanks(row.product)});
    if (found != by_serial_.end()) {
      for (size_t i : found->second) {
        if (!row.has_uuid || !records_[i].has_uuid) candidates.push_back(i);
      }
    }
  }
  const RolloutRecord *latest = nullptr;
  size_t latest_index = 0;
  for (size_t i : candidates) {
    const RolloutRecord &record = records_[i];
    matched_[i] = true;
    if (latest == nullptr || Later(record, i, *latest, latest_index)) {
      latest = &record;
      latest_index = i;
    }
  }
  return latest;
}

std::vector<const RolloutRecord *> RecordSet::Unmatched() const {
  std::vector<const RolloutRecord *> unmatched;
  for (size_t i = 0; i < records_.size(); ++i) {
    if (!matched_[i]) unmatched.push_back(&records_[i]);
  }
  return unmatched;
}

std::string RolloutState(const FleetRow &row, const RolloutRecord *latest) {
  if (!row.error.empty() || row.kits.size() != 1) return "";
  std::string decides = ScriptsOutcome(row.run);
  if (decides == "UpdateHWNew.nsh") return "at-target";
  bool old = decides == "UpdateHWOld.nsh";
  if (latest == nullptr) return old ? "not-visited" : "";
  if (latest->ran && latest->has_script && latest->script == "UpdateHWOld.nsh" && old) {
    return "started-still-below";
  }
  if (!latest->ran && latest->has_message) return "refused";
  return "";
}

void ApplyRecords(RecordSet *records, FleetRow *row) {
  if (!row->error.empty()) return;
  const RolloutRecord *latest = records->Latest(*row);
  row->rollout = RolloutState(*row, latest);
  row->has_record = latest != nullptr;
  if (latest == nullptr) return;
  RecordSummary &summary = row->record;
  summary.where = latest->file + ":" + std::to_string(latest->line);
  summary.has_time = latest->has_time;
  summary.time = latest->time;
  summary.has_script = latest->has_script;
  summary.script = latest->script;
  summary.ran = latest->ran;
  summary.status = latest->status;
  summary.has_message = latest->has_message;
  summary.message = latest->message;
}

}  // namespace fleet
