// The fleet report's file. The tool runs as root on admins' machines, so
// the file is written only where it was asked for and only as a new file:
// under a fresh private name in the target's folder, created exclusively
// (never through a link planted there, never shared with another run),
// then renamed over the target when whole. A target that is a link, a
// device or another special file, or one of the report's own inputs, is
// refused: a slip of the keyboard must not overwrite a disk or a dump.
#pragma once

#include <sys/types.h>

#include <memory>
#include <ostream>
#include <string>

#include "sim/host_output.h"

namespace fleet {

class ReportFile {
 public:
  explicit ReportFile(const std::string &path) : path_(path) {}
  ~ReportFile();  // a file not committed is removed
  ReportFile(const ReportFile &) = delete;
  ReportFile &operator=(const ReportFile &) = delete;

  // Checks the target and makes the temporary file; false with a one-line
  // reason that names the target.
  bool Open(std::string *error);
  std::ostream &Stream() { return *stream_; }
  // Whether `input` (a dump file or a sysfs tables folder) is, or holds,
  // the target's present file: writing the report would replace it.
  bool IsInput(const std::string &input) const;
  // Writes out what is buffered and renames the file over the target.
  bool Commit(std::string *error);

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool exists_ = false;  // the target is there now
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::unique_ptr<sim::FdBuffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

}  // namespace fleet
