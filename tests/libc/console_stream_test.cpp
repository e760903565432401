// Standard output and standard error: the UTF-8 the library writes reaches
// the console as UTF-16 with CR LF line ends, buffered as documented, and a
// failing console is reported without being retried.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "libc/devices.h"
#include "libc/errno.h"
#include "libc/stdio.h"
#include "platform/entry.h"
#include "sim/firmware.h"

namespace {

std::function<void()> gBody;
int RunBody(int, char **) {
  gBody();
  return 0;
}

std::u16string Joined(const std::vector<std::u16string> &lines) {
  std::u16string all;
  for (const std::u16string &line : lines) all += line;
  return all;
}

void RunInFrame(sim::Firmware &fw, const std::function<void()> &body) {
  gBody = body;
  EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), RunBody), EFI_SUCCESS);
  EXPECT_EQ(sim::LeakReport(fw), "");
}

TEST(ConsoleStream, Utf8BecomesUtf16WithCrLf) {
  struct Case {
    const char *name;
    std::vector<std::string> writes;
    std::u16string console;
  };
  const Case cases[] = {
      {"ASCII line", {"plain\n"}, u"plain\r\n"},
      {"two- and three-byte forms", {"h\xC3\xA9 \xE2\x82\xAC\n"}, u"h\u00e9 \u20ac\r\n"},
      {"a character split over two writes", {"\xC3", "\xA9", "\xE2\x82", "\xAC"}, u"\u00e9\u20ac"},
      {"beyond 16 bits", {"\xF0\x9F\x98\x80!"}, u"\uFFFD!"},
      {"stray continuation byte", {"a\x80z"}, u"a\uFFFDz"},
      {"overlong form", {"\xC0\xAF"}, u"\uFFFD\uFFFD"},
      // ED begins no surrogate, so each of the three bytes begins nothing.
      {"encoded surrogate", {"\xED\xA0\x80"}, u"\uFFFD\uFFFD\uFFFD"},
      {"sequence broken by ASCII", {"\xE2\x82x"}, u"\uFFFDx"},
      {"several line ends", {"\n\na\n"}, u"\r\n\r\na\r\n"},
  };
  // Standard error writes at every call, so a character split over two
  // writes crosses a write to the console there.
  for (bool error : {false, true}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.name) + (error ? " (stderr)" : " (stdout)"));
      sim::Firmware fw;
      libc::FILE *stream = error ? libc::stderr : libc::stdout;
      RunInFrame(fw, [&] {
        for (const std::string &text : c.writes) EXPECT_EQ(libc::fputs(text.c_str(), stream), 0);
        EXPECT_EQ(libc::fflush(stream), 0);
      });
      EXPECT_EQ(Joined(error ? fw.StdErrLines() : fw.ConsoleLines()), c.console);
    }
  }
}

TEST(ConsoleStream, StandardOutputGoesOutAtLineEndsOrAFullBuffer) {
  sim::Firmware fw;
  const std::string long_text(300, 'w');
  RunInFrame(fw, [&] {
    libc::fputs("abc", libc::stdout);
    EXPECT_TRUE(fw.ConsoleLines().empty());
    libc::fputs("def\nghi", libc::stdout);
    EXPECT_EQ(fw.ConsoleLines(), std::vector<std::u16string>{u"abcdef\r\nghi"});
    libc::fputs("\n", libc::stdout);
    libc::fputs(long_text.c_str(), libc::stdout);
    // Two full buffers have gone out; the rest waits for the end of the run.
    EXPECT_EQ(Joined(fw.ConsoleLines()), u"abcdef\r\nghi\r\n" + std::u16string(256, u'w'));
  });
  EXPECT_EQ(Joined(fw.ConsoleLines()), u"abcdef\r\nghi\r\n" + std::u16string(300, u'w'));
}

TEST(ConsoleStream, StandardErrorGoesOutAtEveryCall) {
  sim::Firmware fw;
  RunInFrame(fw, [&] {
    libc::fputs("no line end", libc::stderr);
    EXPECT_EQ(fw.StdErrLines(), std::vector<std::u16string>{u"no line end"});
  });
}

TEST(ConsoleStream, FailingConsoleIsReportedAndNotRetried) {
  sim::Firmware fw;
  RunInFrame(fw, [&] {
    fw.FailNth(sim::Call::OutputString, 1, EFI_DEVICE_ERROR);
    EXPECT_EQ(libc::fputs("lost\n", libc::stdout), EOF);
    EXPECT_TRUE(libc::ferror(libc::stdout));
    EXPECT_EQ(libc::ErrorNumber, libc::LIBC_EIO);
    EXPECT_EQ(libc::LastEfiStatus, EFI_DEVICE_ERROR);
    EXPECT_EQ(libc::fputs("shown\n", libc::stdout), 0);
  });
  EXPECT_EQ(fw.ConsoleLines(), std::vector<std::u16string>{u"shown\r\n"});
  EXPECT_EQ(fw.Count(sim::Call::OutputString), 2u);
}

TEST(ConsoleStream, WrongDirectionOrClosedStreamsRefuse) {
  sim::Firmware fw;
  fw.AddFile("data.bin", "abc");
  RunInFrame(fw, [&] {
    libc::FILE *file = libc::fopen("data.bin", "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(libc::fputs("x", file), EOF);
    EXPECT_TRUE(libc::ferror(file));
    libc::fclose(file);

    char byte;
    EXPECT_EQ(libc::fread(&byte, 1, 1, libc::stdout), 0u);
    EXPECT_EQ(libc::fgets(&byte, 1, libc::stdout), nullptr);
    EXPECT_EQ(libc::fclose(libc::stdout), 0);
    EXPECT_EQ(libc::fputs("after close\n", libc::stdout), EOF);
    EXPECT_EQ(libc::ErrorNumber, libc::LIBC_EBADF);
  });
  EXPECT_TRUE(fw.ConsoleLines().empty());
  // Outside a run no descriptor is open.
  EXPECT_EQ(libc::fputs("outside\n", libc::stdout), EOF);
}

// Each console device opens by its name, in its own direction only; the
// standard descriptors already hold 0 to 2, so the next open takes 3.
TEST(ConsoleDevices, OpenByNameInTheirOwnDirection) {
  sim::Firmware fw;
  RunInFrame(fw, [&] {
    struct Case {
      const char *name;
      unsigned access;
      int error;  // 0: opens
    } cases[] = {
        {"stdin:", libc::ACCESS_READ, 0},
        {"stdout:", libc::ACCESS_WRITE, 0},
        {"stderr:", libc::ACCESS_WRITE, 0},
        {"stdin:", libc::ACCESS_WRITE, libc::LIBC_EACCES},
        {"stdout:", libc::ACCESS_READ, libc::LIBC_EACCES},
        {"stderr:", libc::ACCESS_READ | libc::ACCESS_WRITE, libc::LIBC_EACCES},
        {"stdout:", 0, libc::LIBC_EACCES},
        {"stdout", libc::ACCESS_WRITE, libc::LIBC_ENODEV},
        {"stderr:x", libc::ACCESS_WRITE, libc::LIBC_ENODEV},
        {nullptr, libc::ACCESS_READ, libc::LIBC_ENODEV},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.name != nullptr ? c.name : "(null)") + " " +
                   std::to_string(c.access));
      libc::ErrorNumber = 0;
      int descriptor = libc::OpenDevice(c.name, c.access);
      EXPECT_EQ(descriptor, c.error == 0 ? 3 : -1);
      EXPECT_EQ(libc::ErrorNumber, c.error);
      if (descriptor >= 0) {
        EXPECT_EQ(libc::Close(descriptor), 0);
      }
    }
  });
}

}  // namespace
