// ConsolePrint and StatusToText on the simulated firmware's console.
#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/globals.h"
#include "sim/firmware.h"

namespace {

class ConsolePrintTest : public ::testing::Test {
 protected:
  void SetUp() override { fw_.InstallGlobals(); }
  void TearDown() override { EXPECT_EQ(sim::LeakReport(fw_), ""); }
  sim::Firmware fw_;
};

TEST_F(ConsolePrintTest, MessagesReachConOutWithCrLfInOneCall) {
  struct Case {
    const char16_t *format;
    std::u16string shown;
  };
  const Case cases[] = {
      {u"ERROR: SMBIOS table not found.\n", u"ERROR: SMBIOS table not found.\r\n"},
      {u"UpdateConfig.ini not found\n", u"UpdateConfig.ini not found\r\n"},
      {u"Invalid handle\n", u"Invalid handle\r\n"},
      {u"a\rb", u"a\rb"},                // a lone CR stays lone
      {u"a\r\nb\n\rc", u"a\r\nb\r\nc"},  // CR LF and LF CR both give one CR LF
      {u"50%x %", u"50%x %"},            // other '%' sequences print as they stand
  };
  for (const Case &c : cases) {
    size_t before = fw_.ConsoleLines().size();
    EXPECT_EQ(ConsolePrint(c.format), c.shown.size());
    ASSERT_EQ(fw_.ConsoleLines().size(), before + 1);
    EXPECT_EQ(fw_.ConsoleLines().back(), c.shown);
  }
  EXPECT_EQ(ConsolePrint(u"ERROR: SMBIOS table not found.\n"), 32u);
  EXPECT_EQ(ConsolePrint(u"UpdateConfig.ini not found\n"), 28u);
  EXPECT_EQ(ConsolePrint(u"Invalid handle\n"), 16u);
}

TEST_F(ConsolePrintTest, DirectivesWidenTextAndStatus) {
  const std::u16string shown =
      u"ERROR Initializing Standard IO: No such device.\r\n    Not Found\r\n";
  EXPECT_EQ(ConsolePrint(u"ERROR Initializing Standard IO: %a.\n    %r\n", "No such device",
                         EFI_NOT_FOUND),
            shown.size());
  EXPECT_EQ(fw_.ConsoleLines().back(), shown);

  ConsolePrint(u"[%a]", static_cast<const char *>(nullptr));
  EXPECT_EQ(fw_.ConsoleLines().back(), u"[<null string>]");

  // Bytes 0x80 and above become the code unit of the same value.
  ConsolePrint(u"%a", "\xE9\xFF");
  EXPECT_EQ(fw_.ConsoleLines().back(), u"\u00E9\u00FF");
}

TEST_F(ConsolePrintTest, TextIsCutAt320CodeUnits) {
  std::string long_text(400, 'x');
  EXPECT_EQ(ConsolePrint(u"%a", long_text.c_str()), 320u);
  EXPECT_EQ(fw_.ConsoleLines().back(), std::u16string(320, u'x'));

  // A message cut at the bound keeps its line end, whether the cut falls
  // in its text or in the line end itself.
  const struct {
    size_t text;
    std::u16string shown;
  } cut[] = {{319, std::u16string(318, u'y') + u"\r\n"},
             {400, std::u16string(318, u'y') + u"\r\n"},
             {318, std::u16string(318, u'y') + u"\r\n"}};
  for (const auto &c : cut) {
    SCOPED_TRACE(c.text);
    std::string text(c.text, 'y');
    EXPECT_EQ(ConsolePrint(u"%a\n", text.c_str()), 320u);
    EXPECT_EQ(fw_.ConsoleLines().back(), c.shown);
  }
}

TEST_F(ConsolePrintTest, NothingToShowOrNowhereToShowIt) {
  EXPECT_EQ(ConsolePrint(u""), 0u);
  EXPECT_TRUE(fw_.ConsoleLines().empty());

  fw_.FailNth(sim::Call::OutputString, 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(ConsolePrint(u"lost\n"), 0u);

  fw_.FailNth(sim::Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES);
  unsigned calls = fw_.Count(sim::Call::OutputString);
  EXPECT_EQ(ConsolePrint(u"no memory\n"), 0u);
  EXPECT_EQ(fw_.Count(sim::Call::OutputString), calls);

  // A null ConOut: formatted but not written, and the count is kept.
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con_out = gST->ConOut;
  gST->ConOut = nullptr;
  EXPECT_EQ(ConsolePrint(u"abc\n"), 5u);
  gST->ConOut = con_out;
  EXPECT_EQ(fw_.Count(sim::Call::OutputString), calls);
}

TEST_F(ConsolePrintTest, DecimalAndAsciiFormats) {
  EXPECT_EQ(ConsolePrint(u"%d|%d|%d|%d\n", 0, -12, INT32_MAX, INT32_MIN), 30u);
  EXPECT_EQ(fw_.ConsoleLines().back(), u"0|-12|2147483647|-2147483648\r\n");
  // The ASCII form follows the same rules, line ends and cut at 320 included.
  EXPECT_EQ(ConsolePrintAscii("Installed \"%a\" (%d)\n", "1.26", 1), 22u);
  EXPECT_EQ(fw_.ConsoleLines().back(), u"Installed \"1.26\" (1)\r\n");
  std::string long_format(400, 'x');
  EXPECT_EQ(ConsolePrintAscii(long_format.c_str()), 320u);
  EXPECT_EQ(fw_.ConsoleLines().back(), std::u16string(320, u'x'));
  // Each byte of the format is the character of its number, 0x80 to 0xFF
  // included (not a negative char), and %s takes UTF-16 text there too.
  EXPECT_EQ(ConsolePrintAscii("caf\xE9 \xFF%s%%q\n", u"\u20AC"), 12u);
  EXPECT_EQ(fw_.ConsoleLines().back(), u"caf\u00E9 \u00FF\u20AC%%q\r\n");
}

TEST(StatusToText, TablesAndHexFallback) {
  struct Case {
    EFI_STATUS status;
    const char *text;
  };
  const Case cases[] = {
      {0, "Success"},
      {1, "Warning Unknown Glyph"},
      {5, "Warning Stale Data"},
      {6, "00000006"},
      {EFI_ERROR_BIT | 1, "Load Error"},
      {EFI_NOT_FOUND, "Not Found"},
      {EFI_ABORTED, "Aborted"},
      {EFI_ERROR_BIT | 13, "Media changed"},
      {EFI_ERROR_BIT | 29, "Reserved (29)"},
      {EFI_ERROR_BIT | 33, "Compromised Data"},
      {EFI_ERROR_BIT | 34, "00000022"},
      {EFI_ERROR_BIT, "00000000"},
      {0x123456789ABCDEF0ULL, "9ABCDEF0"},
      {~0ULL, "FFFFFFFF"},
  };
  for (const Case &c : cases) {
    char scratch[STATUS_TEXT_SIZE];
    EXPECT_STREQ(StatusToText(c.status, scratch), c.text) << std::hex << c.status;
  }
}

}  // namespace
