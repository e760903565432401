// SMBIOS data as admins collect it from machines, turned into the one
// layout the simulated firmware publishes (Firmware::PublishSmbiosDump):
//
//   - a dump file, as `dmidecode --dump-bin` writes it: the entry point at
//     offset 0, the structure table at the file offset its address names;
//   - a copy of Linux's /sys/firmware/dmi/tables: a folder holding
//     `smbios_entry_point` (the entry point as the firmware published it,
//     naming a memory address) and `DMI` (the structure table itself).
//
// And the search of a folder tree for both kinds, in sorted order, one
// machine at a time, so a fleet of any size is never listed in memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// The largest table the simulated firmware publishes: a 3.x entry point may
// declare up to 4 GiB, nothing real comes near this, and a 32-byte file
// declaring 4 GiB must not take 4 GiB of memory.
constexpr uint64_t SMBIOS_TABLE_LIMIT = 64u << 20;
// Where a dump's table begins, as dmidecode --dump-bin writes it.
constexpr uint64_t DUMP_TABLE_OFFSET = 32;
// The most of a dump file read: the largest table and the entry point in
// front of it.
constexpr uint64_t SMBIOS_INPUT_LIMIT = SMBIOS_TABLE_LIMIT + DUMP_TABLE_OFFSET;

// Which entry point a dump begins with.
enum class SmbiosAnchor { None, V2, V3 };
SmbiosAnchor AnchorOf(const std::vector<uint8_t> &dump);

// True when `path` is a folder holding both `smbios_entry_point` and `DMI`.
bool IsSysfsTablesFolder(const std::string &path);

// The sysfs form as a dump: the entry point, its table address rewritten
// to 32 and its checksums made right again (as dmidecode does), padded to
// 32 bytes, then the DMI bytes. The DMI file is the table whatever address
// the entry point names; the entry point's declared length still bounds it,
// as it bounds the table in the machine's memory. False with a reason when
// the entry point is neither a whole 2.x nor a whole 3.x one.
bool SysfsToDump(const std::vector<uint8_t> &entry_point, const std::vector<uint8_t> &table,
                 std::vector<uint8_t> *dump, std::string *error);

// Reads a dump file or a sysfs tables folder into the dump layout. False
// with a one-line reason (which names no path) when it cannot: missing,
// unreadable, not a regular file, larger than SMBIOS_INPUT_LIMIT. Whether
// the bytes are SMBIOS data is for PublishSmbiosDump to say.
bool LoadSmbiosInput(const std::string &path, std::vector<uint8_t> *dump, std::string *error);

// The inputs named on a command line, in order: a file or a sysfs tables
// folder stands for itself; any other folder is searched recursively, its
// entries in byte order of their names, for sysfs tables folders and for
// files that are dumps (an ".bin" name, or an SMBIOS anchor in their first
// bytes). Folders reached through symbolic links are not entered, so a
// link cannot make the search go round. A folder that cannot be read, an
// entry that cannot be looked at (a link to nothing or round a loop, a
// path past the system's length limit), and a named input that does not
// exist, are handed out as inputs all the same, so they become rows that
// say so: a fleet never shrinks unnoticed.
class SmbiosInputSearch {
 public:
  explicit SmbiosInputSearch(std::vector<std::string> roots);
  ~SmbiosInputSearch();
  SmbiosInputSearch(const SmbiosInputSearch &) = delete;
  SmbiosInputSearch &operator=(const SmbiosInputSearch &) = delete;

  // The next input, false at the end.
  bool Next(std::string *path);

 private:
  struct Level;
  // Lists a folder's entries into a new level on the stack; false when the
  // folder cannot be read.
  bool Enter(const std::string &folder);

  std::vector<std::string> roots_;
  size_t next_root_ = 0;
  std::string current_root_;
  bool found_under_root_ = false;
  std::vector<std::unique_ptr<Level>> stack_;
};

}  // namespace sim
