// The shell-application frame on the simulated firmware: the status the
// shell gets for each result of `main`, the arguments `main` sees under both
// shells, start-up failures (no shell, no memory, no console input) and the
// abnormal end. Every run must give back each pool block and file handle.
#include "platform/entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "libc/assert.h"
#include "libc/stdio.h"
#include "libc/stdlib.h"
#include "platform/efi_protocols.h"
#include "sim/firmware.h"

namespace {

struct MainCall {
  bool called = false;
  int argc = -1;
  std::vector<std::string> argv;
  bool null_after_last = false;
};

MainCall gCall;
std::function<int()> gResult;

int RecordingMain(int argc, char **argv) {
  gCall.called = true;
  gCall.argc = argc;
  for (int i = 0; i < argc; ++i) gCall.argv.push_back(argv[i] == nullptr ? "<null>" : argv[i]);
  gCall.null_after_last = argv[argc] == nullptr;
  return gResult ? gResult() : 0;
}

struct Outcome {
  EFI_STATUS status;
  MainCall call;
  std::vector<std::u16string> console;
  std::vector<std::u16string> stderr_lines;
  std::string leaks;
};

Outcome RunFrame(sim::Firmware &fw, std::function<int()> result = nullptr) {
  gCall = MainCall();
  gResult = std::move(result);
  Outcome out;
  out.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), RecordingMain);
  out.call = gCall;
  out.console = fw.ConsoleLines();
  out.stderr_lines = fw.StdErrLines();
  out.leaks = sim::LeakReport(fw);
  gResult = nullptr;
  return out;
}

Outcome RunWithArgs(std::vector<std::u16string> args,
                    sim::ShellKind shell = sim::ShellKind::Uefi2) {
  sim::Options options;
  options.shell = shell;
  options.args = std::move(args);
  sim::Firmware fw(options);
  return RunFrame(fw);
}

TEST(ShellAppEntry, MainResultBecomesTheImageStatus) {
  struct Case {
    int result;
    EFI_STATUS status;
  };
  const Case cases[] = {
      {0, EFI_SUCCESS},
      {1, EFI_ABORTED},
      {2, 2},
      {-1, 0xFFFFFFFFFFFFFFFFULL},
      {-2147483647 - 1, 0xFFFFFFFF80000000ULL},
      {2147483647, 0x7FFFFFFFULL},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.result);
    sim::Firmware fw;
    Outcome out = RunFrame(fw, [&] { return c.result; });
    EXPECT_TRUE(out.call.called);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.leaks, "");
  }
}

TEST(ShellAppEntry, ArgumentsReachMainAsUtf8) {
  const std::u16string ascii255(255, u'a');
  struct Case {
    const char *name;
    std::u16string arg;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", u"-x", "-x"},
      {"empty", u"", ""},
      {"255 ASCII bytes pass whole", ascii255, std::string(255, 'a')},
      {"256th byte is cut", ascii255 + u"b", std::string(255, 'a')},
      {"300 characters are cut at 255", std::u16string(300, u'q'), std::string(255, 'q')},
      {"two-byte form", u"\u00e9", "\xC3\xA9"},
      {"three-byte form", u"\u20ac", "\xE2\x82\xAC"},
      {"range edges", u"\u007f\u0080\u07ff\u0800\uffff",
       "\x7f\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {"a character that would pass 255 bytes is left out", std::u16string(127, u'\u00e9') + u"\u00e9",
       [] {
         std::string s;
         for (int i = 0; i < 127; ++i) s += "\xC3\xA9";
         return s;
       }()},
      {"85 three-byte characters fill 255", std::u16string(86, u'\u20ac'),
       [] {
         std::string s;
         for (int i = 0; i < 85; ++i) s += "\xE2\x82\xAC";
         return s;
       }()},
      {"lone high surrogate ends the argument", u"ab\xD800" u"cd", "ab"},
      {"lone low surrogate ends the argument", u"x\xDC00" u"y", "x"},
      {"a surrogate pair ends it too", u"k\xD83D\xDE00", "k"},
  };
  for (sim::ShellKind shell : {sim::ShellKind::Uefi2, sim::ShellKind::Legacy}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.name) + (shell == sim::ShellKind::Legacy ? " (legacy)" : ""));
      Outcome out = RunWithArgs({u"BiosUpdateSelect.efi", c.arg, u"next"}, shell);
      ASSERT_TRUE(out.call.called);
      EXPECT_EQ(out.status, EFI_SUCCESS);
      EXPECT_EQ(out.call.argv,
                (std::vector<std::string>{"BiosUpdateSelect.efi", c.expected, "next"}));
      EXPECT_TRUE(out.call.null_after_last);
      EXPECT_EQ(out.leaks, "");
    }
  }
}

TEST(ShellAppEntry, LongArgumentListsKeepTheFirst63) {
  for (size_t count : {63u, 64u, 65u, 100u}) {
    SCOPED_TRACE(count);
    std::vector<std::u16string> args;
    std::vector<std::string> expected;
    for (size_t i = 0; i < count; ++i) {
      std::string text = "arg" + std::to_string(i);
      args.push_back(std::u16string(text.begin(), text.end()));
      if (i < 63) expected.push_back(text);
    }
    Outcome out = RunWithArgs(args);
    EXPECT_EQ(out.call.argc, 63);
    EXPECT_EQ(out.call.argv, expected);
    EXPECT_TRUE(out.call.null_after_last);
    EXPECT_EQ(out.status, EFI_SUCCESS);
    EXPECT_EQ(out.leaks, "");
  }
}

// A shell's parameters installed by hand, for vectors a shell could hand
// over but the simulated shells do not make: null entries, no vector.
TEST(ShellAppEntry, UnusualParameterVectors) {
  CHAR16 tool[] = u"tool";
  CHAR16 *with_null[] = {tool, nullptr, tool, nullptr};
  struct Case {
    const char *name;
    CHAR16 **argv;
    UINTN argc;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"null entry becomes an empty string", with_null, 3, {"tool", "", "tool"}},
      {"no vector means no arguments", nullptr, 5, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Options options;
    options.shell = sim::ShellKind::None;
    sim::Firmware fw(options);
    EFI_SHELL_PARAMETERS_PROTOCOL parameters = {c.argv, c.argc, nullptr, nullptr, nullptr};
    fw.InstallProtocol(fw.ImageHandle(), EFI_SHELL_PARAMETERS_PROTOCOL_GUID, &parameters);
    Outcome out = RunFrame(fw);
    EXPECT_EQ(out.call.argv, c.expected);
    EXPECT_TRUE(out.call.null_after_last);
    EXPECT_EQ(out.leaks, "");
  }
}

TEST(ShellAppEntry, NoArgumentsGiveAOneByteBufferAndANullVector) {
  sim::Options options;
  options.args.clear();
  sim::Firmware fw(options);
  std::vector<size_t> loader_blocks;
  Outcome out = RunFrame(fw, [&] {
    for (const auto &block : fw.Blocks()) {
      if (block.second.type == EfiLoaderData) loader_blocks.push_back(block.second.size);
    }
    return 0;
  });
  EXPECT_EQ(out.call.argc, 0);
  EXPECT_TRUE(out.call.null_after_last);
  EXPECT_NE(std::find(loader_blocks.begin(), loader_blocks.end(), 1u), loader_blocks.end());
  EXPECT_EQ(out.leaks, "");
}

TEST(ShellAppEntry, WithoutAShellMainIsNotCalled) {
  sim::Options options;
  options.shell = sim::ShellKind::None;
  sim::Firmware fw(options);
  Outcome out = RunFrame(fw);
  EXPECT_FALSE(out.call.called);
  EXPECT_EQ(out.status, 0xFFFFFFFFFFFFFFFFULL);
  EXPECT_TRUE(out.console.empty());
  EXPECT_EQ(out.leaks, "");
}

// How many pool blocks a run takes before `main`, counted on a clean run:
// the last two are the state block and the argument buffer.
unsigned AllocationsBeforeMain() {
  sim::Firmware fw;
  unsigned before_main = 0;
  RunFrame(fw, [&] {
    before_main = fw.Count(sim::Call::AllocatePool);
    return 0;
  });
  return before_main;
}

TEST(ShellAppEntry, NoMemoryForTheRunEndsBeforeMain) {
  const unsigned before_main = AllocationsBeforeMain();
  ASSERT_GE(before_main, 2u);
  struct Case {
    const char *name;
    unsigned nth;
    EFI_STATUS status;
  };
  const Case cases[] = {
      {"state block", before_main - 1, EFI_OUT_OF_RESOURCES},
      {"argument buffer", before_main, EFI_ABORTED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Firmware fw;
    fw.FailNth(sim::Call::AllocatePool, c.nth, EFI_OUT_OF_RESOURCES);
    Outcome out = RunFrame(fw);
    EXPECT_FALSE(out.call.called);
    EXPECT_EQ(out.status, c.status);
    EXPECT_TRUE(out.console.empty());
    EXPECT_EQ(out.leaks, "");
  }
}

TEST(ShellAppEntry, EveryFailedAllocationEndsCleanly) {
  const unsigned total = AllocationsBeforeMain() + 4;
  for (unsigned nth = 1; nth <= total; ++nth) {
    SCOPED_TRACE(nth);
    sim::Firmware fw;
    fw.AddFile("data.bin", "abc");
    fw.FailNth(sim::Call::AllocatePool, nth, EFI_OUT_OF_RESOURCES);
    Outcome out = RunFrame(fw, [] {
      libc::FILE *f = libc::fopen("data.bin", "r");
      libc::fputs("line\n", libc::stdout);
      return f == nullptr ? 3 : 0;  // left open: the end of the run closes it
    });
    EXPECT_TRUE(out.status == EFI_SUCCESS || out.status == 3 ||
                out.status == EFI_OUT_OF_RESOURCES || out.status == EFI_ABORTED)
        << out.status;
    EXPECT_EQ(out.leaks, "");
  }
}

// Without console input, or without memory for the console devices,
// "stdin:" cannot be opened: "stdout:" and "stderr:" are not tried, the
// message comes once, and `main` still runs.
TEST(ShellAppEntry, ConsoleInputUnavailablePrintsTheMessageOnceAndMainRuns) {
  for (bool no_memory : {false, true}) {
    SCOPED_TRACE(no_memory ? "no memory for the console devices" : "no ConIn");
    sim::Firmware fw;
    if (no_memory) {
      fw.FailNth(sim::Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES);  // the first block
    } else {
      fw.SystemTable()->ConIn = nullptr;
    }
    int written = 0;
    Outcome out = RunFrame(fw, [&] {
      written = libc::fputs("not shown\n", libc::stdout);
      return 0;
    });
    EXPECT_TRUE(out.call.called);
    EXPECT_EQ(out.status, EFI_SUCCESS);
    EXPECT_EQ(written, EOF);
    EXPECT_EQ(out.console,
              std::vector<std::u16string>{
                  u"ERROR Initializing Standard IO: No such device.\r\n    Not Found\r\n"});
    EXPECT_EQ(out.leaks, "");
  }
}

TEST(ShellAppEntry, StandardErrorFallsBackToConsoleOutput) {
  for (bool with_stderr : {true, false}) {
    SCOPED_TRACE(with_stderr);
    sim::Options options;
    options.with_stderr = with_stderr;
    sim::Firmware fw(options);
    Outcome out = RunFrame(fw, [] {
      libc::fputs("to error\n", libc::stderr);
      return 0;
    });
    std::vector<std::u16string> expected = {u"to error\r\n"};
    EXPECT_EQ(with_stderr ? out.stderr_lines : out.console, expected);
    EXPECT_TRUE((with_stderr ? out.console : out.stderr_lines).empty());
  }
}

int gAssertLine = 0;

int FailingAssertionMain(int, char **) {
  libc::fputs("before", libc::stdout);
  gAssertLine = __LINE__ + 1;
  assert(2 + 2 == 5);
  return 0;
}

int AbortingMain(int, char **) {
  libc::FILE *f = libc::fopen("data.bin", "r");
  libc::fputs(f != nullptr ? "pending output" : "no file", libc::stdout);
  libc::abort();
}

TEST(ShellAppEntry, AbnormalEndFlushesStreamsAndAborts) {
  struct Case {
    const char *name;
    ApplicationMain main;
    std::string console;  // everything written, across OutputString calls
  };
  gAssertLine = 0;
  sim::Firmware probe;
  ShellAppEntry(probe.ImageHandle(), probe.SystemTable(), FailingAssertionMain);
  ASSERT_NE(gAssertLine, 0);
  const Case cases[] = {
      {"failed assertion", FailingAssertionMain,
       "beforeAssertion failed: (2 + 2 == 5), file " + std::string(__FILE__) +
           ", function FailingAssertionMain, line " + std::to_string(gAssertLine) + ".\r\n"},
      {"abort with pending output and an open file", AbortingMain, "pending output"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Firmware fw;
    fw.AddFile("data.bin", "abc");
    EFI_STATUS status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), c.main);
    EXPECT_EQ(status, EFI_ABORTED);
    std::u16string console;
    for (const std::u16string &line : fw.ConsoleLines()) console += line;
    EXPECT_EQ(console, std::u16string(c.console.begin(), c.console.end()));
    EXPECT_EQ(sim::LeakReport(fw), "");
  }
}

}  // namespace
