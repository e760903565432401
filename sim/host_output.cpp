// Standard output that reports its failures, and the standard descriptors
// kept taken.
#include "sim/host_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace sim {

bool FdBuffer::Drain() {
  const char *next = pbase();
  while (error_ == 0 && next < pptr()) {
    ssize_t put = write(fd_, next, static_cast<size_t>(pptr() - next));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error_ = put < 0 ? errno : EIO;
      break;
    }
    next += put;
  }
  setp(buffer_, buffer_ + sizeof(buffer_));
  return error_ == 0;
}

int FdBuffer::overflow(int c) {
  if (!Drain()) return traits_type::eof();
  if (c != traits_type::eof()) {
    *pptr() = static_cast<char>(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int FdBuffer::sync() { return Drain() ? 0 : -1; }

StandardStreams KeepStandardStreamsTaken() {
  StandardStreams streams;
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    streams.closed[fd] = true;
    int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  return streams;
}

}  // namespace sim
