// Writing the report's file beside its target. A signal that ends the run
// (an admin's ^C, a hang-up, a kill) removes the temporary file too: its
// name is kept where a handler can reach it without allocating.
#include "fleet/report_output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fleet {
namespace {

char gTemporaryPath[PATH_MAX + 1];
pid_t gTemporaryOwner = 0;  // worker processes inherit the handler, not the file

void RemoveTemporaryAndDie(int signal_number) {
  if (gTemporaryPath[0] != '\0' && getpid() == gTemporaryOwner) unlink(gTemporaryPath);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

std::string Folder(const std::string &path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SameFile(const struct stat &info, dev_t device, ino_t inode) {
  return info.st_dev == device && info.st_ino == inode;
}

}  // namespace

ReportFile::~ReportFile() {
  stream_.reset();
  buffer_.reset();
  if (fd_ >= 0) close(fd_);
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    gTemporaryPath[0] = '\0';
  }
}

bool ReportFile::Open(std::string *error) {
  const std::string name = "--output " + path_ + ": ";
  struct stat info;
  if (lstat(path_.c_str(), &info) == 0) {
    if (S_ISLNK(info.st_mode)) {
      *error = name + "is a symbolic link; name the file itself";
      return false;
    }
    if (S_ISDIR(info.st_mode)) {
      *error = name + "is a folder";
      return false;
    }
    if (!S_ISREG(info.st_mode)) {
      *error = name + "is a device or other special file, not a place for a report";
      return false;
    }
    exists_ = true;
    device_ = info.st_dev;
    inode_ = info.st_ino;
  } else if (errno != ENOENT) {
    *error = name + std::strerror(errno);
    return false;
  }
  // A short fixed name: the target's own may already be as long as a name can be.
  std::string folder = Folder(path_);
  std::string pattern = folder + "/.bios-update-select-fleet-XXXXXX";
  if (pattern.size() > PATH_MAX) {
    *error = name + std::strerror(ENAMETOOLONG);
    return false;
  }
  std::strcpy(gTemporaryPath, pattern.c_str());
  gTemporaryOwner = getpid();
  struct sigaction remove = {};
  remove.sa_handler = RemoveTemporaryAndDie;
  sigemptyset(&remove.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&remove.sa_mask, signal_number);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // A signal ignored at start (a run in the background, under nohup) stays ignored.
    struct sigaction previous = {};
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &remove, nullptr);
  }
  // mkostemp creates with O_EXCL: a name that exists, a link included, is
  // never opened, and the file is ours alone (mode 0600) until it is whole.
  fd_ = mkostemp(gTemporaryPath, O_CLOEXEC);
  if (fd_ < 0) {
    int saved = errno;
    gTemporaryPath[0] = '\0';
    *error = name + "cannot be written in its folder: " + std::strerror(saved);
    return false;
  }
  temporary_ = gTemporaryPath;
  buffer_.reset(new sim::FdBuffer(fd_));
  stream_.reset(new std::ostream(buffer_.get()));
  return true;
}

bool ReportFile::IsInput(const std::string &input) const {
  if (!exists_) return false;
  struct stat info;
  if (stat(input.c_str(), &info) != 0) return false;
  if (SameFile(info, device_, inode_)) return true;
  if (!S_ISDIR(info.st_mode)) return false;
  for (const char *file : {"/DMI", "/smbios_entry_point"}) {
    if (stat((input + file).c_str(), &info) == 0 && SameFile(info, device_, inode_)) return true;
  }
  return false;
}

bool ReportFile::Commit(std::string *error) {
  const std::string name = "--output " + path_ + ": ";
  stream_->flush();
  int failure = buffer_->Error();
  // The file gets the mode any new file of the admin's gets.
  mode_t mask = umask(0);
  umask(mask);
  if (failure == 0 && fchmod(fd_, 0666 & ~mask) != 0) failure = errno;
  if (failure == 0 && fsync(fd_) != 0 && errno != EINVAL) failure = errno;
  if (close(fd_) != 0 && failure == 0) failure = errno;
  fd_ = -1;
  if (failure == 0 && rename(temporary_.c_str(), path_.c_str()) != 0) failure = errno;
  if (failure != 0) {
    *error = name + "cannot be written: " + std::strerror(failure);
    return false;
  }
  temporary_.clear();
  gTemporaryPath[0] = '\0';
  return true;
}

}  // namespace fleet
