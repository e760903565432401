// File streams: the same reads against the host C library on identical
// bytes, the firmware calls a scan costs, failures of every firmware call a
// stream makes, and the descriptors streams take inside a run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "libc/devices.h"
#include "libc/errno.h"
#include "libc/stdio.h"
#include "platform/entry.h"
#include "platform/globals.h"
#include "platform/shell_access.h"
#include "sim/firmware.h"

namespace {

std::function<void()> gBody;
int RunBody(int, char **) {
  gBody();
  return 0;
}

// Runs Body as `main` of a complete run on Fw and checks that nothing is
// left behind.
void RunInFrame(sim::Firmware &fw, const std::function<void()> &body) {
  gBody = body;
  EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), RunBody), EFI_SUCCESS);
  EXPECT_EQ(sim::LeakReport(fw), "");
}

// Deterministic operation mix; the same salt gives the same script on both
// libraries.
struct Lcg {
  uint32_t state;
  uint32_t Next(uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  }
};

std::string MakeText(size_t size, uint32_t salt) {
  Lcg lcg{salt};
  std::string text;
  const char alphabet[] = "abcXYZ09=;\r\n\n \0";
  while (text.size() < size) text += alphabet[lcg.Next(sizeof(alphabet) - 1)];
  return text;
}

// Applies one random script to the host stream and to ours and reports the
// first step where any result differs.
void CompareWithHost(const std::string &bytes, uint32_t salt, int steps) {
  std::FILE *host = std::tmpfile();
  ASSERT_NE(host, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), host), bytes.size());
  std::rewind(host);

  sim::Firmware fw;
  fw.AddFile("data.bin", bytes);
  RunInFrame(fw, [&] {
    libc::FILE *ours = libc::fopen("data.bin", "rb");
    ASSERT_NE(ours, nullptr);
    Lcg lcg{salt};
    const long size = static_cast<long>(bytes.size());
    const size_t counts[] = {0, 1, 2, 8, 12, 100, 4095, 4096, 4097, 5000};
    const int line_sizes[] = {0, 1, 2, 10, 10, 10, 100};
    for (int step = 0; step < steps; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      std::vector<char> a(5001, '\x55'), b(5001, '\x55');
      switch (lcg.Next(6)) {
        case 0: {
          long offset = static_cast<long>(lcg.Next(size + 20)) - 3;
          ASSERT_EQ(libc::fseek(ours, offset, SEEK_SET), std::fseek(host, offset, SEEK_SET));
          break;
        }
        case 1: {
          long offset = static_cast<long>(lcg.Next(80)) - 40;
          ASSERT_EQ(libc::fseek(ours, offset, SEEK_CUR), std::fseek(host, offset, SEEK_CUR));
          break;
        }
        case 2: {
          long offset = -static_cast<long>(lcg.Next(size + 4)) + 2;
          ASSERT_EQ(libc::fseek(ours, offset, SEEK_END), std::fseek(host, offset, SEEK_END));
          break;
        }
        case 3: {
          size_t count = counts[lcg.Next(sizeof(counts) / sizeof(counts[0]))];
          size_t got = libc::fread(a.data(), 1, count, ours);
          ASSERT_EQ(got, std::fread(b.data(), 1, count, host));
          ASSERT_EQ(a, b);
          break;
        }
        case 4: {
          // Whole elements only; a partial element still moves the position.
          size_t got = libc::fread(a.data(), 4, 3, ours);
          ASSERT_EQ(got, std::fread(b.data(), 4, 3, host));
          ASSERT_EQ(a, b);
          break;
        }
        case 5: {
          int line = line_sizes[lcg.Next(sizeof(line_sizes) / sizeof(line_sizes[0]))];
          char *x = libc::fgets(a.data(), line, ours);
          char *y = std::fgets(b.data(), line, host);
          ASSERT_EQ(x == nullptr, y == nullptr);
          ASSERT_EQ(a, b);
          break;
        }
      }
      ASSERT_EQ(libc::ftell(ours), std::ftell(host));
      ASSERT_EQ(libc::feof(ours) != 0, std::feof(host) != 0);
      ASSERT_EQ(libc::ferror(ours), 0);
    }
    EXPECT_EQ(libc::fclose(ours), 0);
  });
  std::fclose(host);
}

TEST(FileStream, ReadsAsTheHostLibraryDoes) {
  struct Case {
    const char *name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"one byte", "x"},
      {"one line", "ProductName=Model7\n"},
      {"mixed line ends", "a\r\nbb\rccc\n\n\r\nlast line without end"},
      {"NUL bytes", std::string("Ver\0sion=1\0\n\0\0", 15)},
      {"line longer than fgets takes", "ABCDEFGHIJKLMNOPQRSTUVWXYZ\nshort\n"},
      {"just below the buffer", MakeText(4095, 1)},
      {"one buffer", MakeText(4096, 2)},
      {"just above the buffer", MakeText(4097, 3)},
      {"buffer and kept bytes", MakeText(4160, 4)},
      {"several buffers", MakeText(13000, 5)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    CompareWithHost(c.bytes, static_cast<uint32_t>(c.bytes.size()) + 7, 3000);
  }
}

TEST(FileStream, FgetsTakesNineBytesThroughTheLineFeed) {
  sim::Firmware fw;
  fw.AddFile("cfg.ini", "Version=ABCDEFGHIJ\nX=12\r\nY=\n");
  RunInFrame(fw, [&] {
    libc::FILE *f = libc::fopen("cfg.ini", "r");
    ASSERT_NE(f, nullptr);
    char value[10];
    const char *expected[] = {"Version=A", "BCDEFGHIJ", "\n", "X=12\r\n", "Y=\n"};
    for (const char *line : expected) {
      ASSERT_EQ(libc::fgets(value, sizeof(value), f), value);
      EXPECT_STREQ(value, line);
    }
    std::memcpy(value, "untouched", 10);
    EXPECT_EQ(libc::fgets(value, sizeof(value), f), nullptr);
    EXPECT_STREQ(value, "untouched");
    EXPECT_TRUE(libc::feof(f));
    libc::fclose(f);
  });
}

// The configuration search: one window of the key's length at every offset,
// each window read after a seek to its offset.
int32_t Search(libc::FILE *f, const char *key, size_t length, int32_t start) {
  char window[16];
  for (int32_t k = start;; ++k) {
    if (libc::fseek(f, k, SEEK_SET) != 0) return -1;
    if (libc::fread(window, 1, length, f) != length) return -1;
    if (std::memcmp(window, key, length) == 0) return k;
  }
}

TEST(FileStream, FirmwareCallsOfTheConfigurationSearch) {
  std::string padding;
  while (padding.size() < 4096 - 27) padding += "; comment\r\n";
  padding.resize(4096 - 27);
  struct Case {
    const char *name;
    std::string bytes;
    std::string version;  // raw value as fgets gives it
  };
  const Case cases[] = {
      {"small file", "ProductName=P\r\nVersion=12\r\n", "12\r\n"},
      {"4 KiB, keys at the end", padding + "ProductName=P\r\nVersion=12\r\n", "12\r\n"},
      {"4 KiB, no keys", padding + std::string(27, ';'), ""},
      {"version without line end", "ProductName=P\nVersion=42", "42"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LE(c.bytes.size(), 4096u);
    sim::Firmware fw;
    fw.AddFile("UpdateConfig.ini", c.bytes);
    std::string version;
    RunInFrame(fw, [&] {
      libc::FILE *f = libc::fopen("UpdateConfig.ini", "r");
      ASSERT_NE(f, nullptr);
      char raw[10] = "";
      if (Search(f, "ProductName=", 12, 0) >= 0) libc::fgets(raw, sizeof(raw), f);
      if (Search(f, "Version=", 8, 0) >= 0 && libc::fgets(raw, sizeof(raw), f) != nullptr) {
        version = raw;
      }
      libc::fclose(f);
    });
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(fw.Count(sim::Call::FileOpen), 1u);
    EXPECT_LE(fw.Count(sim::Call::FileRead), 2u);
    EXPECT_EQ(fw.Count(sim::Call::FileSetPosition), 0u);
    EXPECT_EQ(fw.Count(sim::Call::FileClose), 1u);
  }
}

TEST(FileStream, ForwardScanOfOneMebibyteReadsEachBufferOnce) {
  const size_t size = 1u << 20;
  sim::Firmware fw;
  fw.AddFile("big.ini", MakeText(size, 9) + "ProductName=Big\n");
  int32_t hit = -1;
  RunInFrame(fw, [&] {
    libc::FILE *f = libc::fopen("big.ini", "r");
    ASSERT_NE(f, nullptr);
    hit = Search(f, "ProductName=", 12, 0);
    libc::fclose(f);
  });
  EXPECT_EQ(hit, static_cast<int32_t>(size));
  EXPECT_GE(fw.Count(sim::Call::FileRead), size / 4096);
  EXPECT_LE(fw.Count(sim::Call::FileRead), size / 4096 + 2);
  EXPECT_EQ(fw.Count(sim::Call::FileSetPosition), 0u);
}

TEST(FileStream, SeekBackBeyondTheBufferRereadsFromThere) {
  std::string bytes = MakeText(20000, 11);
  sim::Firmware fw;
  fw.AddFile("data.bin", bytes);
  RunInFrame(fw, [&] {
    libc::FILE *f = libc::fopen("data.bin", "rb");
    char got[8];
    ASSERT_EQ(libc::fseek(f, 15000, SEEK_SET), 0);
    ASSERT_EQ(libc::fread(got, 1, 8, f), 8u);
    EXPECT_EQ(std::string(got, 8), bytes.substr(15000, 8));
    ASSERT_EQ(libc::fseek(f, 3, SEEK_SET), 0);
    ASSERT_EQ(libc::fread(got, 1, 8, f), 8u);
    EXPECT_EQ(std::string(got, 8), bytes.substr(3, 8));
    libc::fclose(f);
  });
  EXPECT_EQ(fw.Count(sim::Call::FileSetPosition), 2u);
  EXPECT_EQ(fw.Count(sim::Call::FileRead), 2u);
}

TEST(FileStream, FailedFirmwareCallsAreReportedNotRetried) {
  struct Case {
    const char *name;
    sim::Call call;
    EFI_STATUS status;
    int error;  // error number after the failure
  };
  const Case cases[] = {
      {"open: missing", sim::Call::FileOpen, EFI_NOT_FOUND, libc::LIBC_ENOENT},
      {"open: denied", sim::Call::FileOpen, EFI_ACCESS_DENIED, libc::LIBC_EACCES},
      {"read", sim::Call::FileRead, EFI_DEVICE_ERROR, libc::LIBC_EIO},
      {"seek", sim::Call::FileSetPosition, EFI_DEVICE_ERROR, libc::LIBC_EIO},
      {"size for SEEK_END", sim::Call::FileGetInfo, EFI_UNSUPPORTED, libc::LIBC_EIO},
      {"close", sim::Call::FileClose, EFI_DEVICE_ERROR, libc::LIBC_EIO},
  };
  const std::string bytes = MakeText(9000, 13);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Firmware fw;
    fw.AddFile("data.bin", bytes);
    gBody = [&] {
      fw.FailNth(c.call, 1, c.status);
      libc::FILE *f = libc::fopen("data.bin", "rb");
      char window[12];
      if (c.call == sim::Call::FileOpen) {
        EXPECT_EQ(f, nullptr);
      } else if (c.call == sim::Call::FileRead) {
        EXPECT_EQ(libc::fread(window, 1, sizeof(window), f), 0u);
        EXPECT_TRUE(libc::ferror(f));
        unsigned reads = fw.Count(sim::Call::FileRead);
        EXPECT_EQ(libc::fgets(window, sizeof(window), f), nullptr);
        EXPECT_EQ(libc::fseek(f, 0, SEEK_SET), 0);
        EXPECT_EQ(libc::fread(window, 1, sizeof(window), f), 0u);
        EXPECT_EQ(fw.Count(sim::Call::FileRead), reads);
      } else if (c.call == sim::Call::FileSetPosition) {
        ASSERT_EQ(libc::fseek(f, 8000, SEEK_SET), 0);
        EXPECT_EQ(libc::fread(window, 1, sizeof(window), f), 0u);
        EXPECT_TRUE(libc::ferror(f));
      } else if (c.call == sim::Call::FileGetInfo) {
        EXPECT_EQ(libc::fseek(f, -5, SEEK_END), -1);
        EXPECT_EQ(libc::ftell(f), 0);
      } else {
        EXPECT_EQ(libc::fclose(f), EOF);
        f = nullptr;
      }
      EXPECT_EQ(libc::ErrorNumber, c.error);
      EXPECT_EQ(libc::LastEfiStatus, c.status);
      if (f != nullptr) {
        EXPECT_EQ(libc::fclose(f), 0);
      }
    };
    EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), RunBody), EFI_SUCCESS);
    EXPECT_TRUE(fw.Blocks().empty());
    EXPECT_EQ(fw.FaultsInjected(), 1u);
  }
}

TEST(FileStream, OpenWithoutMemoryOrWithBadArgumentsGivesNull) {
  sim::Firmware fw;
  fw.AddFile("data.bin", "abc");
  RunInFrame(fw, [&] {
    for (unsigned nth : {1u, 2u}) {  // the stream block, then the wide name
      fw.FailNth(sim::Call::AllocatePool, nth, EFI_OUT_OF_RESOURCES);
      EXPECT_EQ(libc::fopen("data.bin", "r"), nullptr);
      EXPECT_EQ(libc::ErrorNumber, libc::LIBC_ENOMEM);
      fw.ClearFaults();
    }
    unsigned opens = fw.Count(sim::Call::FileOpen);
    for (const char *mode : {"w", "r+", "a", "rw", "", "rbx"}) {
      EXPECT_EQ(libc::fopen("data.bin", mode), nullptr) << mode;
      EXPECT_EQ(libc::ErrorNumber, libc::LIBC_EINVAL);
    }
    EXPECT_EQ(libc::fopen(nullptr, "r"), nullptr);
    EXPECT_EQ(fw.Count(sim::Call::FileOpen), opens);
    EXPECT_EQ(libc::fopen("missing.ini", "r"), nullptr);
    EXPECT_EQ(libc::ErrorNumber, libc::LIBC_ENOENT);
  });
}

// A name is the library's UTF-8: each character reaches the shell as its
// UTF-16 unit, '/' as '\\'.
TEST(FileStream, NamesReachTheShellWithBackslashes) {
  sim::Firmware fw;
  fw.AddFile("dir\\sub\\cfg.ini", "k=v\n");
  fw.AddFile("K\xC3\xA4se\\\xE2\x82\xAC.ini", "k=w\n");
  RunInFrame(fw, [&] {
    for (const char *name : {"dir/sub/cfg.ini", "K\xC3\xA4se/\xE2\x82\xAC.ini"}) {
      SCOPED_TRACE(name);
      libc::FILE *f = libc::fopen(name, "r");
      ASSERT_NE(f, nullptr);
      char line[10];
      EXPECT_NE(libc::fgets(line, sizeof(line), f), nullptr);
      libc::fclose(f);
    }
  });
}

TEST(FileStream, ReadsTheSameUnderTheLegacyShell) {
  sim::Options options;
  options.shell = sim::ShellKind::Legacy;
  sim::Firmware fw(options);
  std::string bytes = MakeText(6000, 17);
  fw.AddFile("data.bin", bytes);
  RunInFrame(fw, [&] {
    libc::FILE *f = libc::fopen("data.bin", "rb");
    ASSERT_NE(f, nullptr);
    std::vector<char> all(7000);
    EXPECT_EQ(libc::fread(all.data(), 1, all.size(), f), bytes.size());
    EXPECT_EQ(std::string(all.data(), bytes.size()), bytes);
    EXPECT_EQ(libc::fseek(f, -10, SEEK_END), 0);
    EXPECT_EQ(libc::ftell(f), 5990);
    libc::fclose(f);
  });
}

TEST(FileStream, DescriptorsLimitOpenStreamsAndRunEndClosesThem) {
  sim::Firmware fw;
  fw.AddFile("data.bin", "abc");
  RunInFrame(fw, [&] {
    // 0, 1 and 2 are the consoles; 3 to 19 are left for files.
    std::vector<libc::FILE *> open;
    for (int i = 0; i < 17; ++i) {
      open.push_back(libc::fopen("data.bin", "r"));
      ASSERT_NE(open.back(), nullptr) << i;
    }
    EXPECT_EQ(libc::fopen("data.bin", "r"), nullptr);
    EXPECT_EQ(libc::ErrorNumber, libc::LIBC_EMFILE);
    EXPECT_EQ(libc::fclose(open[5]), 0);
    EXPECT_EQ(libc::fclose(open[5]), EOF);  // closed already: refused, not freed twice
    EXPECT_EQ(libc::ErrorNumber, libc::LIBC_EBADF);
    EXPECT_NE(libc::fopen("data.bin", "r"), nullptr);
    // The rest stay open: the end of the run closes them.
  });
  EXPECT_EQ(fw.Count(sim::Call::FileClose), fw.Count(sim::Call::FileOpen));
}

TEST(FileStream, OutsideARunStreamsNeedTheFileDeviceAndTearDownClosesThem) {
  sim::Firmware fw;
  fw.AddFile("data.bin", "abc");
  fw.InstallGlobals();
  ClearShellAccessReferences();
  ShellAccessInit(fw.ImageHandle());
  EXPECT_EQ(libc::fopen("data.bin", "r"), nullptr);
  EXPECT_EQ(libc::ErrorNumber, libc::LIBC_ENODEV);
  ASSERT_TRUE(libc::InstallShellFileDevice());
  libc::FILE *f = libc::fopen("data.bin", "r");
  ASSERT_NE(f, nullptr);
  char got[4] = {};
  EXPECT_EQ(libc::fread(got, 1, 3, f), 3u);
  EXPECT_STREQ(got, "abc");
  libc::ReleaseDeviceTable();
  ShellAccessShutdown(fw.ImageHandle());
  libc::ReleaseLibraryBuffers();
  EXPECT_EQ(sim::LeakReport(fw), "");
}

}  // namespace
