// Reading run records. A stick that was pulled or lost power mid-write may
// hold a cut line, and a records file may come from anywhere: every line
// is parsed on its own, bounded, and one that is not a record is named and
// skipped, never taken for part of another.
#include "fleet/rollout_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "fleet/row_text.h"
#include "fleet/shown_text.h"
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

// Whether record `a` is later than `b`: by the instants they were written
// where both have one; a record with a time outranks one without; else by
// the order they were read in.
bool Later(const RolloutRecord &a, const RolloutRecord &b) {
  int64_t at = 0, bt = 0;
  bool a_timed = a.has_time && RecordInstant(a.time, &at);
  bool b_timed = b.has_time && RecordInstant(b.time, &bt);
  if (a_timed != b_timed) return a_timed;
  if (a_timed && at != bt) return at > bt;
  return a.order > b.order;
}

bool Digits(const std::string &text, size_t at, size_t count, int *value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

// Days from 1970-01-01 to the date, proleptic Gregorian.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool RecordInstant(const std::string &time, int64_t *seconds) {
  // YYYY-MM-DDTHH:MM:SS, as the image writes it.
  int year, month, day, hour, minute, second;
  if (time.size() < 19 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':' ||
      time[16] != ':' || !Digits(time, 0, 4, &year) || !Digits(time, 5, 2, &month) ||
      !Digits(time, 8, 2, &day) || !Digits(time, 11, 2, &hour) || !Digits(time, 14, 2, &minute) ||
      !Digits(time, 17, 2, &second) || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  int offset = 0;  // minutes east of UTC
  std::string zone = time.substr(19);
  if (zone == "Z" || zone.empty()) {
    offset = 0;
  } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    int hours, minutes;
    if (!Digits(zone, 1, 2, &hours) || !Digits(zone, 4, 2, &minutes) || minutes > 59) return false;
    offset = (hours * 60 + minutes) * (zone[0] == '-' ? -1 : 1);
  } else {
    return false;
  }
  *seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
             hour * 3600 + minute * 60 + second - offset * 60;
  return true;
}

bool SerialTellsMachinesApart(const std::string &serial) {
  static const char *const PLACEHOLDERS[] = {
      "to be filled by o.e.m.", "default string", "system serial number", "chassis serial number",
      "serial number", "not specified", "not applicable", "not available", "none", "n/a", "na",
      "unknown", "empty", "0123456789", "123456789", "1234567890", "invalid"};
  std::string text = Lower(TrimTrailingBlanks(serial));
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  text = text.substr(start);
  if (text.find_first_not_of(text[0]) == std::string::npos) return false;  // "0000", "xxxx"
  for (const char *placeholder : PLACEHOLDERS) {
    if (text == placeholder) return false;
  }
  return true;
}

bool SwappedUuids(const std::string &a, const std::string &b) {
  // 8-4-4-4-12: the first three fields' bytes in the other order.
  static const int SWAPPED[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  auto bytes = [](const std::string &text, std::string *out) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < 36; ++i) {
      bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash ? text[i] != '-' : !IsHex(text[i])) return false;
      if (!dash) out->push_back(static_cast<char>(text[i] | 0x20));
    }
    return true;
  };
  std::string x, y;
  if (!bytes(a, &x) || !bytes(b, &y) || x == y) return false;
  for (int i = 0; i < 16; ++i) {
    if (x.compare(2 * i, 2, y, 2 * SWAPPED[i], 2) != 0) return false;
  }
  return true;
}

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
         OptionalText(json, "message", &record->has_message, &record->message, why) &&
         OptionalText(json, "kit_sha256", &record->has_kit_sha256, &record->kit_sha256, why);
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

size_t RecordSet::Read(const std::string &name, std::istream &in) {
  indexed_ = false;
  by_uuid_.clear();
  by_serial_.clear();
  size_t kept = 0;
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
    RolloutRecord record;
    std::string why;
    if (too_long) {
      why = "longer than " + std::to_string(RECORD_LINE_LIMIT) + " bytes";
    } else if (ParseRecordLine(line, &record, &why)) {
      record.file = name;
      record.line = number;
      record.order = read_++;
      Keep(std::move(record));
      ++kept;
      continue;
    }
    if (++damaged_ <= RECORD_WARNING_LIMIT) {
      warnings_.push_back(name + ":" + std::to_string(number) + ": " + why + "; skipped");
    }
  }
  return kept;
}

// One machine's lines, named alike, are one record: the latest of them.
namespace {

// What a record names a machine by, for the indexes' hashes.
uint64_t HashOf(const std::string &text) { return std::hash<std::string>()(text); }

std::string IdentityOf(const RolloutRecord &record) {
  std::string key;
  for (const auto &part : {std::make_pair(record.has_uuid, Lower(record.uuid)),
                           std::make_pair(record.has_serial, record.serial),
                           std::make_pair(record.has_product, record.product)}) {
    key += part.first ? "+" + std::to_string(part.second.size()) + ":" + part.second : "-";
  }
  return key;
}

std::string SerialKey(const std::string &serial, const std::string &product) {
  return TrimTrailingBlanks(serial) + '\0' + TrimTrailingBlanks(product);
}

}  // namespace

// One machine's lines, named alike, are one record: the latest of them.
void RecordSet::Keep(RolloutRecord record) {
  std::string identity = IdentityOf(record);
  auto range = alike_.equal_range(HashOf(identity));
  for (auto it = range.first; it != range.second; ++it) {
    RolloutRecord &kept = records_[it->second];
    if (kept.has_uuid != record.has_uuid || kept.has_serial != record.has_serial ||
        kept.has_product != record.has_product || kept.serial != record.serial ||
        kept.product != record.product || Lower(kept.uuid) != Lower(record.uuid)) {
      continue;
    }
    size_t copies = kept.copies + 1;
    if (Later(record, kept)) kept = std::move(record);
    kept.copies = copies;
    return;
  }
  alike_.emplace(HashOf(identity), records_.size());
  records_.push_back(std::move(record));
  matched_.push_back(false);
}

bool RecordSet::ReadFile(const std::string &path, std::string *error) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat info;
  if (fd < 0) {
    *error = "--records " + path + ": " + std::strerror(errno);
    return false;
  }
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *error = "--records " + path + ": not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(info.st_size) > RECORD_FILE_LIMIT) {
    close(fd);
    *error = "--records " + path + ": larger than " + std::to_string(RECORD_FILE_LIMIT) + " bytes";
    return false;
  }
  // Read as a stream: a file of a million lines is never held whole.
  __gnu_cxx::stdio_filebuf<char> buffer(fd, std::ios::in);  // closes fd
  std::istream in(&buffer);
  size_t damaged = damaged_;
  size_t records = Read(path, in);
  if (buffer.fd() >= 0 && in.bad()) {
    *error = "--records " + path + ": read error";
    return false;
  }
  if (records == 0 && damaged_ > damaged) {
    *error = "--records " + path + ": none of its lines is a run record (is it the image's -log file?)";
    return false;
  }
  return true;
}

void RecordSet::Index() {
  indexed_ = true;
  for (size_t i = 0; i < records_.size(); ++i) {
    const RolloutRecord &record = records_[i];
    if (record.has_uuid) by_uuid_.emplace(HashOf(Lower(record.uuid)), i);
    // An empty or placeholder serial number tells no machine from another.
    if (record.has_serial && record.has_product && SerialTellsMachinesApart(record.serial)) {
      by_serial_.emplace(HashOf(SerialKey(record.serial, record.product)), i);
    }
  }
}

const RolloutRecord *RecordSet::Latest(const FleetRow &row, bool uuid_unique) {
  if (!indexed_) Index();
  std::vector<size_t> candidates;
  std::string uuid = Lower(row.uuid);
  if (row.has_uuid && uuid_unique) {
    auto range = by_uuid_.equal_range(HashOf(uuid));
    for (auto it = range.first; it != range.second; ++it) {
      if (Lower(records_[it->second].uuid) == uuid) candidates.push_back(it->second);
    }
  }
  if (row.has_serial && row.has_product) {
    std::string key = SerialKey(row.serial, row.product);
    auto range = by_serial_.equal_range(HashOf(key));
    for (auto it = range.first; it != range.second; ++it) {
      const RolloutRecord &record = records_[it->second];
      if (SerialKey(record.serial, record.product) != key) continue;
      // A UUID the fleet shares tells nothing: serial and product decide.
      // One in the other byte order is this machine's, read by another rule.
      if (!row.has_uuid || !record.has_uuid || (!uuid_unique && Lower(record.uuid) == uuid) ||
          SwappedUuids(record.uuid, row.uuid)) {
        candidates.push_back(it->second);
      }
    }
  }
  const RolloutRecord *latest = nullptr;
  for (size_t i : candidates) {
    const RolloutRecord &record = records_[i];
    matched_[i] = true;
    if (latest == nullptr || Later(record, *latest)) latest = &record;
  }
  return latest;
}

std::vector<std::string> RecordSet::Warnings() const {
  std::vector<std::string> warnings = warnings_;
  if (damaged_ > warnings_.size()) {
    size_t more = damaged_ - warnings_.size();
    warnings.push_back("and " + std::to_string(more) + (more == 1 ? " more damaged line" : " more damaged lines") + "; skipped");
  }
  return warnings;
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

void ApplyRecords(RecordSet *records, FleetRow *row, bool uuid_unique) {
  if (!row->error.empty()) return;
  const RolloutRecord *latest = records->Latest(*row, uuid_unique);
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
  summary.has_kit_sha256 = latest->has_kit_sha256;
  summary.kit_sha256 = latest->kit_sha256;
  // A run that checked its kit (-verify) names the build it ran; the plan
  // holds the kit's build as it is now.
  if (latest->has_kit_sha256 && !row->kit_sha256.empty() && latest->kit_sha256 != row->kit_sha256) {
    row->warnings.push_back(
        Warning{"other-build", "its latest record (" + summary.where + ") ran another build of " +
                                   "its kit: kit_sha256 " + latest->kit_sha256 + ", the planned " +
                                   "kit's " + row->kit_sha256});
  }
}

}  // namespace fleet
