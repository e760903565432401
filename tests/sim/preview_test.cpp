// The preview tool's command line and output format, and the cases where
// it refuses to run before the application starts.
#include "sim/preview.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

TEST(PreviewEscapeText, WritesOneLineOfUtf8) {
  const struct {
    std::u16string text;
    std::string line;
  } cases[] = {
      {u"", ""},
      {u"ERROR: SMBIOS table not found.\r\n", "ERROR: SMBIOS table not found.\\r\\n"},
      {u"a\\b", "a\\\\b"},
      // C0, DEL and C1 (CSI here) never reach the terminal raw.
      {u"tab\there\x1b[0m\x7f\u009b31m", "tab\\x09here\\x1B[0m\\x7F\\x9B31m"},
      {u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, u'\xD800') + u"x", "\\uD800x"},
      {u"x" + std::u16string(1, u'\xDC00'), "x\\uDC00"},
      {std::u16string(u"a\0b", 3), "a\\x00b"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(sim::EscapeText(c.text), c.line);
  }
}

TEST(PreviewFormat, EventAndStatusLines) {
  EXPECT_EQ(sim::FormatEvent({sim::Event::Console, u"UpdateConfig.ini not found\r\n"}),
            "console: UpdateConfig.ini not found\\r\\n");
  EXPECT_EQ(sim::FormatEvent({sim::Event::Execute, u"UpdateHWOld.nsh"}),
            "execute: UpdateHWOld.nsh");
  EXPECT_EQ(sim::FormatStatus(EFI_SUCCESS), "status: 0x0000000000000000");
  EXPECT_EQ(sim::FormatStatus(EFI_ABORTED), "status: 0x8000000000000015");
  EXPECT_EQ(sim::FormatStatus(~EFI_STATUS{0}), "status: 0xFFFFFFFFFFFFFFFF");
  EXPECT_EQ(sim::FormatStatus(0xABCDEF), "status: 0x0000000000ABCDEF");
}

TEST(PreviewArguments, AcceptsTheDocumentedForms) {
  const struct {
    std::vector<std::string> arguments;
    std::string smbios;
    std::string dir;
    sim::ShellKind shell;
    std::vector<std::string> args;
  } cases[] = {
      {{}, "", "", sim::ShellKind::Uefi2, {}},
      {{"--smbios", "a.bin", "--dir", "kit"}, "a.bin", "kit", sim::ShellKind::Uefi2, {}},
      {{"--smbios=a.bin", "--dir=kit"}, "a.bin", "kit", sim::ShellKind::Uefi2, {}},
      {{"--legacy-shell", "x", "--no-shell"}, "", "", sim::ShellKind::Legacy, {"x", "--no-shell"}},
      {{"--no-shell", "--no-shell"}, "", "", sim::ShellKind::None, {}},
      {{"--", "--smbios", "-x"}, "", "", sim::ShellKind::Uefi2, {"--smbios", "-x"}},
      {{"-", "y"}, "", "", sim::ShellKind::Uefi2, {"-", "y"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    sim::PreviewOptions options;
    std::string error;
    ASSERT_TRUE(sim::ParsePreviewArguments(c.arguments, &options, &error)) << error;
    EXPECT_EQ(options.smbios_path, c.smbios);
    EXPECT_EQ(options.dir, c.dir);
    EXPECT_EQ(options.shell, c.shell);
    EXPECT_EQ(options.args, c.args);
    EXPECT_FALSE(options.help);
  }
  sim::PreviewOptions options;
  std::string error;
  ASSERT_TRUE(sim::ParsePreviewArguments({"--help"}, &options, &error));
  EXPECT_TRUE(options.help);
  EXPECT_NE(std::string(sim::PreviewUsage()).find("current working directory"), std::string::npos);
}

TEST(PreviewArguments, RefusesWithAReason) {
  const struct {
    std::vector<std::string> arguments;
    const char *reason;
  } cases[] = {
      {{"--smbios"}, "needs a value"},
      {{"--dir="}, "non-empty"},
      {{"--legacy-shell", "--no-shell"}, "exclude"},
      {{"--verbose"}, "unknown option --verbose"},
      {{"-x"}, "unknown option -x"},
  };
  for (const auto &c : cases) {
    sim::PreviewOptions options;
    std::string error;
    EXPECT_FALSE(sim::ParsePreviewArguments(c.arguments, &options, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(PreviewRun, CannotRunWithoutItsInputs) {
  std::string dump_path = testing::TempDir() + "preview-not-a-dump.bin";
  std::ofstream(dump_path) << "this is not SMBIOS";
  const struct {
    std::string smbios;
    std::string dir;
    const char *reason;
  } cases[] = {
      {"", "/nonexistent/kit", "not a readable directory"},
      {"/nonexistent/dump.bin", "", "No such file"},
      {"/", "", "a folder without smbios_entry_point and DMI"},
      {dump_path, "", "anchor"},
  };
  for (const auto &c : cases) {
    sim::PreviewOptions options;
    options.smbios_path = c.smbios;
    options.dir = c.dir;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(sim::RunPreview(options, out, err), sim::PREVIEW_CANNOT_RUN);
    EXPECT_EQ(out.str(), "");
    std::string reason = err.str();
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(reason.find('\n'), reason.size() - 1) << "one line: " << reason;
  }
}

}  // namespace
