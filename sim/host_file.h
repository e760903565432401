// Host files as the host runners read them: the files of a kit folder that
// the simulated volume serves, and SMBIOS data. Only a regular file is
// read, opened without blocking and up to a stated bound, so a FIFO, a
// device or a huge file in a file's place neither hangs a run nor fills
// its memory.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Files of a host folder are served whole, up to this size: far above any
// UpdateConfig.ini, far below what would strain a host.
constexpr uint64_t HOST_FILE_LIMIT = 256u << 20;

// The whole of the regular file at `path`, at most `limit` bytes. False
// with a one-line reason that names no path: the system's reason, "is a
// folder", "not a regular file", "read error: ..." or "larger than N
// bytes".
bool ReadRegularFile(const std::string &path, uint64_t limit, std::string *bytes,
                     std::string *error);

// The entry of `folder` named `name` without regard to case, as on the FAT
// volumes the shell reads from; an exact match wins over others that
// differ only in case. False when there is none or the folder cannot be
// listed.
bool FindFolderEntry(const std::string &folder, const std::string &name, std::string *entry);

enum class FolderFile { Read, NotFound, Unreadable };

// The file `name` of `folder` as the simulated volume serves it: found by
// FindFolderEntry, read by ReadRegularFile up to `limit`. An entry
// that exists but cannot be read (a link to nothing, a FIFO, a device, a
// read error, too large) is Unreadable, with the reason in `error`.
FolderFile ReadFolderFile(const std::string &folder, const std::string &name, std::string *bytes,
                          std::string *error, uint64_t limit = HOST_FILE_LIMIT);

}  // namespace sim
