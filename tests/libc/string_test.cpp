// String, memory and error-text functions against the host C library on
// the same inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "libc/errno.h"
#include "libc/string.h"

namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(String, TextFunctionsMatchTheHostLibrary) {
  const std::vector<std::string> texts = {"",        "a",      "Version=",  "Version=12\r\n",
                                          "\r\n",    "abc\x80", "\xff\x01", "ProductName=",
                                          "Versio"};
  for (const std::string &a : texts) {
    SCOPED_TRACE(a);
    EXPECT_EQ(libc::strlen(a.c_str()), std::strlen(a.c_str()));
    for (const char *set : {"\r\n", "", "=", "\x80", "aV"}) {
      EXPECT_EQ(libc::strcspn(a.c_str(), set), std::strcspn(a.c_str(), set)) << set;
    }
    for (const std::string &b : texts) {
      EXPECT_EQ(Sign(libc::strcmp(a.c_str(), b.c_str())), Sign(std::strcmp(a.c_str(), b.c_str())))
          << b;
      size_t n = std::min(a.size(), b.size()) + 1;  // the NUL takes part
      EXPECT_EQ(Sign(libc::memcmp(a.c_str(), b.c_str(), n)),
                Sign(std::memcmp(a.c_str(), b.c_str(), n)))
          << b;
    }
  }
}

TEST(String, MemmoveHandlesOverlapBothWays) {
  for (int shift : {-5, -1, 0, 1, 5}) {
    SCOPED_TRACE(shift);
    std::vector<unsigned char> ours(32), host(32);
    for (size_t i = 0; i < 32; ++i) ours[i] = host[i] = static_cast<unsigned char>(i * 7);
    libc::memmove(ours.data() + 8 + shift, ours.data() + 8, 16);
    std::memmove(host.data() + 8 + shift, host.data() + 8, 16);
    EXPECT_EQ(ours, host);
  }
}

TEST(String, ErrorTextsAreTheConventionalOnes) {
  for (int error : {0, libc::LIBC_ENOENT, libc::LIBC_EIO, libc::LIBC_EBADF, libc::LIBC_ENOMEM,
                    libc::LIBC_EACCES, libc::LIBC_ENODEV, libc::LIBC_EINVAL, libc::LIBC_EMFILE,
                    libc::LIBC_EOVERFLOW}) {
    EXPECT_STREQ(libc::strerror(error), std::strerror(error)) << error;
  }
  // Numbers past the table, also those whose low byte is one of its own.
  for (int error : {-1, 1, 76, 255, 256 + libc::LIBC_ENOENT, 0x7FFFFF00}) {
    EXPECT_STREQ(libc::strerror(error), "Unknown error") << error;
  }
}

}  // namespace
