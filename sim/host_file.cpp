// Reading host files for the host runners. Every open is non-blocking and
// checked with fstat on the opened file before a byte is read, so what is
// checked is what is read.
#include "sim/host_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/internal.h"

namespace sim {

bool ReadRegularFile(const std::string &path, uint64_t limit, std::string *bytes,
                     std::string *error) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    int saved = errno;
    struct stat link;
    if (saved == ELOOP) {
      *error = "a symbolic link that loops";
    } else if (saved == ENOENT && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      *error = "a symbolic link to nothing";
    } else {
      *error = std::strerror(saved);
    }
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *error = S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file";
    return false;
  }
  bytes->clear();
  // sysfs reports a size that need not be the content's, so read to the end.
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int saved = errno;
      close(fd);
      *error = std::string("read error: ") + std::strerror(saved);
      return false;
    }
    if (got == 0) break;
    if (bytes->size() + static_cast<size_t>(got) > limit) {
      close(fd);
      *error = "larger than " + std::to_string(limit) + " bytes";
      return false;
    }
    bytes->append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

bool FindFolderEntry(const std::string &folder, const std::string &name, std::string *entry) {
  // The name as it stands is the common case, and the one preferred: found
  // without reading the folder, so a walk over a large folder stays linear.
  struct stat info;
  if (name != "." && name != ".." && name.find('/') == std::string::npos &&
      lstat((folder + "/" + name).c_str(), &info) == 0) {
    *entry = name;
    return true;
  }
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (struct dirent *item = readdir(dir)) {
    std::string candidate = item->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (NamesEqualIgnoringCase(candidate, name)) {
      *entry = candidate;
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

FolderFile ReadFolderFile(const std::string &folder, const std::string &name, std::string *bytes,
                          std::string *error, uint64_t limit) {
  std::string entry;
  if (!FindFolderEntry(folder, name, &entry)) {
    *error = std::strerror(ENOENT);
    return FolderFile::NotFound;
  }
  if (!ReadRegularFile(folder + "/" + entry, limit, bytes, error)) {
    return FolderFile::Unreadable;
  }
  return FolderFile::Read;
}

}  // namespace sim
