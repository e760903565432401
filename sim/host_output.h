// Output of the host tools, which admins run as root: standard output
// whose failures are seen (a full disk, /dev/full, a closed descriptor end
// a run with status 2 and one line, never with status 0 and nothing), and
// the standard descriptors kept taken, so a file a tool opens can never
// become its standard output by chance.
#pragma once

#include <streambuf>

namespace sim {

// A buffered stream buffer over a file descriptor that keeps the first
// write error; nothing is written after it.
class FdBuffer : public std::streambuf {
 public:
  explicit FdBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof(buffer_)); }
  ~FdBuffer() override { sync(); }
  FdBuffer(const FdBuffer &) = delete;
  FdBuffer &operator=(const FdBuffer &) = delete;

  // The errno of the first failed write; 0 while none failed.
  int Error() const { return error_; }

 protected:
  int overflow(int c) override;
  int sync() override;

 private:
  bool Drain();

  int fd_;
  int error_ = 0;
  char buffer_[65536];
};

// Which of the descriptors 0, 1 and 2 were closed when the tool started;
// each closed one is opened on /dev/null, so later opens cannot take it.
struct StandardStreams {
  bool closed[3] = {false, false, false};
};
StandardStreams KeepStandardStreamsTaken();

}  // namespace sim
