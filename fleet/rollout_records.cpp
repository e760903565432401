// Reading the records files a rollout brings back and joining them to the
// machines. Every line is read bounded and parsed on its own
// (fleet/run_record); one that is not a record is named and skipped.
#include "fleet/rollout_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "app/file_names.h"
#include "fleet/row_text.h"

namespace fleet {
namespace {

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
  bool a_timed = a.summary.has_time && RecordInstant(a.summary.time, &at);
  bool b_timed = b.summary.has_time && RecordInstant(b.summary.time, &bt);
  if (a_timed != b_timed) return a_timed;
  if (a_timed && at != bt) return at > bt;
  return a.order > b.order;
}

}  // namespace

const char *const ROLLOUT_STATES[4] = {"at-target", "started-still-below", "refused",
                                       "not-visited"};

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
      record.summary.where = name + ":" + std::to_string(number);
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
  for (const auto &part : {std::make_pair(record.has_uuid, UuidKey(record.uuid)),
                           std::make_pair(record.has_serial, record.serial),
                           std::make_pair(record.has_product, record.product)}) {
    key += part.first ? "+" + std::to_string(part.second.size()) + ":" + part.second : "-";
  }
  return key;
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
        kept.product != record.product || UuidKey(kept.uuid) != UuidKey(record.uuid)) {
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
    if (record.has_uuid) by_uuid_.emplace(HashOf(UuidKey(record.uuid)), i);
    // An empty or placeholder serial number tells no machine from another.
    if (record.has_serial && record.has_product && SerialTellsMachinesApart(record.serial)) {
      by_serial_.emplace(HashOf(SerialKey(record.serial, record.product)), i);
    }
  }
}

const RolloutRecord *RecordSet::Latest(const FleetRow &row, bool uuid_unique) {
  if (!indexed_) Index();
  std::vector<size_t> candidates;
  const MachineFacts &facts = row.facts;
  std::string uuid = UuidKey(facts.uuid);
  if (facts.has_uuid && uuid_unique) {
    auto range = by_uuid_.equal_range(HashOf(uuid));
    for (auto it = range.first; it != range.second; ++it) {
      if (UuidKey(records_[it->second].uuid) == uuid) candidates.push_back(it->second);
    }
  }
  if (facts.has_serial && facts.has_product) {
    std::string key = SerialKey(facts.serial, facts.product);
    auto range = by_serial_.equal_range(HashOf(key));
    for (auto it = range.first; it != range.second; ++it) {
      const RolloutRecord &record = records_[it->second];
      if (SerialKey(record.serial, record.product) != key) continue;
      // A UUID the fleet shares tells nothing: serial and product decide.
      // One in the other byte order is this machine's, read by another rule.
      if (!facts.has_uuid || !record.has_uuid || (!uuid_unique && UuidKey(record.uuid) == uuid) ||
          SwappedUuids(record.uuid, facts.uuid)) {
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
  if (decides == UPDATE_SCRIPT_NEW_NAME) return "at-target";
  bool old = decides == UPDATE_SCRIPT_OLD_NAME;
  if (latest == nullptr) return old ? "not-visited" : "";
  const RecordSummary &run = latest->summary;
  if (run.ran && run.has_script && run.script == UPDATE_SCRIPT_OLD_NAME && old) {
    return "started-still-below";
  }
  if (!run.ran && run.has_message) return "refused";
  return "";
}

void ApplyRecords(RecordSet *records, FleetRow *row, bool uuid_unique) {
  if (!row->error.empty()) return;
  const RolloutRecord *latest = records->Latest(*row, uuid_unique);
  row->rollout = RolloutState(*row, latest);
  row->has_record = latest != nullptr;
  if (latest == nullptr) return;
  row->record = latest->summary;
  // A run that checked its kit (-verify) names the build it ran; the plan
  // holds the kit's build as it is now.
  const RecordSummary &run = row->record;
  if (run.has_kit_sha256 && !row->kit_sha256.empty() && run.kit_sha256 != row->kit_sha256) {
    row->warnings.push_back(
        Warning{"other-build", "its latest record (" + run.where + ") ran another build of " +
                                   "its kit: kit_sha256 " + run.kit_sha256 + ", the planned " +
                                   "kit's " + row->kit_sha256});
  }
}

}  // namespace fleet
