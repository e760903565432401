// Reading SMBIOS data files and folders, and the sorted search of a folder
// tree. Every file is opened without blocking and read only when it is a
// regular file, up to a fixed limit: a search through a tree that holds a
// FIFO, a device or a huge unrelated file must neither hang nor exhaust
// memory.
#include "sim/smbios_input.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/host_file.h"
#include "smbios/smbios_types.h"

namespace sim {
namespace {

constexpr size_t ENTRY_POINT_2_FIELDS = 0x1E;  // the 2.x fields we use end here

const char ENTRY_POINT_FILE[] = "smbios_entry_point";
const char TABLE_FILE[] = "DMI";

bool Fail(std::string *error, const std::string &why) {
  if (error != nullptr) *error = why;
  return false;
}

// The whole of a regular file, at most `limit` bytes, as dump bytes.
bool ReadInputFile(const std::string &path, uint64_t limit, std::vector<uint8_t> *bytes,
                   std::string *error) {
  std::string read, why;
  if (!ReadRegularFile(path, limit, &read, &why)) {
    if (why.rfind("larger than ", 0) == 0) why += ": too large to be SMBIOS data";
    return Fail(error, why);
  }
  bytes->assign(read.begin(), read.end());
  return true;
}

bool IsFolder(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

void Checksum(uint8_t *bytes, size_t length, size_t at) {
  bytes[at] = 0;
  uint8_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  bytes[at] = static_cast<uint8_t>(-sum);
}

bool EndsWithBin(const std::string &name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char &c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".bin";
}

// A file that a search takes for a dump: named so (whatever it turns out
// to be: a FIFO or a device named as a dump is a row that says so), or a
// regular file beginning like one. Only regular files are opened, and
// without blocking.
bool LooksLikeDump(const std::string &path, const std::string &name) {
  if (EndsWithBin(name)) return true;
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[5] = {};
  ssize_t got = read(fd, head, sizeof(head));
  close(fd);
  return (got >= 4 && std::memcmp(head, "_SM_", 4) == 0) ||
         (got >= 5 && std::memcmp(head, "_SM3_", 5) == 0);
}

}  // namespace

SmbiosAnchor AnchorOf(const std::vector<uint8_t> &dump) {
  if (dump.size() >= 5 && std::memcmp(dump.data(), "_SM3_", 5) == 0) return SmbiosAnchor::V3;
  if (dump.size() >= 4 && std::memcmp(dump.data(), "_SM_", 4) == 0) return SmbiosAnchor::V2;
  return SmbiosAnchor::None;
}

bool IsSysfsTablesFolder(const std::string &path) {
  return IsFolder(path) && Exists(path + "/" + ENTRY_POINT_FILE) && Exists(path + "/" + TABLE_FILE);
}

bool SysfsToDump(const std::vector<uint8_t> &entry_point, const std::vector<uint8_t> &table,
                 std::vector<uint8_t> *dump, std::string *error) {
  SmbiosAnchor anchor = AnchorOf(entry_point);
  if (anchor == SmbiosAnchor::None) {
    return Fail(error, "smbios_entry_point is not an SMBIOS entry point: no \"_SM_\" or "
                       "\"_SM3_\" anchor");
  }
  size_t needed = anchor == SmbiosAnchor::V3 ? sizeof(Smbios3EntryPoint) : ENTRY_POINT_2_FIELDS;
  if (entry_point.size() < needed) {
    return Fail(error, "smbios_entry_point too short: " + std::to_string(entry_point.size()) +
                           " bytes, its entry point needs " + std::to_string(needed));
  }
  size_t length =
      anchor == SmbiosAnchor::V3 ? sizeof(Smbios3EntryPoint) : sizeof(SmbiosEntryPoint);
  if (length > entry_point.size()) length = entry_point.size();
  dump->assign(DUMP_TABLE_OFFSET, 0);
  std::copy(entry_point.begin(), entry_point.begin() + static_cast<long>(length), dump->begin());
  uint8_t *entry = dump->data();
  if (anchor == SmbiosAnchor::V3) {
    uint64_t address = DUMP_TABLE_OFFSET;
    std::memcpy(entry + offsetof(Smbios3EntryPoint, TableAddress), &address, sizeof(address));
    Checksum(entry, sizeof(Smbios3EntryPoint), offsetof(Smbios3EntryPoint, EntryPointStructureChecksum));
  } else {
    uint32_t address = DUMP_TABLE_OFFSET;
    std::memcpy(entry + offsetof(SmbiosEntryPoint, TableAddress), &address, sizeof(address));
    // The intermediate part runs from "_DMI_" to the end of the entry point.
    Checksum(entry + offsetof(SmbiosEntryPoint, IntermediateAnchorString), 0x0F,
             offsetof(SmbiosEntryPoint, IntermediateChecksum) -
                 offsetof(SmbiosEntryPoint, IntermediateAnchorString));
    Checksum(entry, sizeof(SmbiosEntryPoint), offsetof(SmbiosEntryPoint, EntryPointStructureChecksum));
  }
  dump->insert(dump->end(), table.begin(), table.end());
  return true;
}

bool LoadSmbiosInput(const std::string &path, std::vector<uint8_t> *dump, std::string *error) {
  struct stat info;
  // A name that leads nowhere gets its reason from the read.
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return ReadInputFile(path, SMBIOS_INPUT_LIMIT, dump, error);
  }

  if (!IsSysfsTablesFolder(path)) {
    DIR *folder = opendir(path.c_str());
    if (folder == nullptr) return Fail(error, std::string("cannot read the folder: ") + std::strerror(errno));
    closedir(folder);
    return Fail(error, "a folder without smbios_entry_point and DMI");
  }
  std::vector<uint8_t> entry_point, table;
  std::string why;
  // An entry point is a few dozen bytes; anything much longer is not one.
  if (!ReadInputFile(path + "/" + ENTRY_POINT_FILE, 4096, &entry_point, &why)) {
    return Fail(error, std::string(ENTRY_POINT_FILE) + ": " + why);
  }
  if (!ReadInputFile(path + "/" + TABLE_FILE, SMBIOS_INPUT_LIMIT - DUMP_TABLE_OFFSET, &table, &why)) {
    return Fail(error, std::string(TABLE_FILE) + ": " + why);
  }
  return SysfsToDump(entry_point, table, dump, error);
}

// One folder being searched: its entry names in byte order.
struct SmbiosInputSearch::Level {
  std::string path;
  std::vector<std::string> names;
  size_t next = 0;
};

SmbiosInputSearch::SmbiosInputSearch(std::vector<std::string> roots) : roots_(std::move(roots)) {}
SmbiosInputSearch::~SmbiosInputSearch() = default;

bool SmbiosInputSearch::Next(std::string *path) {
  for (;;) {
    if (stack_.empty()) {
      if (next_root_ >= roots_.size()) return false;
      const std::string &root = roots_[next_root_++];
      if (!IsFolder(root) || IsSysfsTablesFolder(root)) {
        *path = root;
        return true;
      }
      found_under_root_ = false;
      current_root_ = root;
      if (!Enter(root)) {
        *path = root;  // a row that says why
        return true;
      }
      continue;
    }
    Level &level = *stack_.back();
    if (level.next >= level.names.size()) {
      stack_.pop_back();
      // A folder named on the command line that holds nothing usable is a
      // row too: a mistyped path must not shrink the fleet unnoticed.
      if (stack_.empty() && !found_under_root_) {
        *path = current_root_;
        return true;
      }
      continue;
    }
    const std::string &name = level.names[level.next++];
    std::string child = level.path + (level.path.back() == '/' ? "" : "/") + name;
    struct stat link_info, info;
    if (lstat(child.c_str(), &link_info) != 0 || stat(child.c_str(), &info) != 0) {
      // A link to nothing or round in a loop, or a path past the system's
      // limit: what it names cannot be known, so it is a row that says why
      // rather than a machine that silently leaves the fleet.
      found_under_root_ = true;
      *path = child;
      return true;
    }
    if (IsFolder(child)) {
      if (IsSysfsTablesFolder(child)) {
        found_under_root_ = true;
        *path = child;
        return true;
      }
      if (S_ISLNK(link_info.st_mode)) continue;
      if (!Enter(child)) {
        found_under_root_ = true;
        *path = child;
        return true;
      }
      continue;
    }
    if (LooksLikeDump(child, name)) {
      found_under_root_ = true;
      *path = child;
      return true;
    }
  }
}

bool SmbiosInputSearch::Enter(const std::string &path) {
  DIR *folder = opendir(path.c_str());
  if (folder == nullptr) return false;
  std::unique_ptr<Level> level(new Level{path, {}, 0});
  while (struct dirent *entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    level->names.push_back(name);
  }
  closedir(folder);
  std::sort(level->names.begin(), level->names.end());
  stack_.push_back(std::move(level));
  return true;
}

}  // namespace sim
