// The one UTF-16 to UTF-8 conversion: arguments stop at a surrogate unit,
// folder names keep each unit; both keep whole characters within the limit.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf16ToUtf8, BothModesAndTheLimit) {
  struct Case {
    const char *name;
    std::u16string text;
    size_t limit;
    bool stop_at_surrogate;
    std::string utf8;
  };
  const Case cases[] = {
      {"every length of form", u"a\u00e9\u20ac\u07ff\u0800", 255, false,
       "a\xC3\xA9\xE2\x82\xAC\xDF\xBF\xE0\xA0\x80"},
      {"a pair kept as two three-byte units", u"x\xD83D\xDE00y", 255, false,
       "x\xED\xA0\xBD\xED\xB8\x80y"},
      {"a pair ends an argument", u"x\xD83D\xDE00y", 255, true, "x"},
      {"a lone low surrogate ends an argument", u"\xDC00z", 255, true, ""},
      {"a character that would pass the limit is left out", u"ab\u20ac", 4, false, "ab"},
      {"exactly at the limit", u"ab\u20ac", 5, false, "ab\xE2\x82\xAC"},
      {"nothing fits", u"\u00e9", 1, false, ""},
      {"empty", u"", 255, false, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    size_t measured = Utf16ToUtf8(c.text.c_str(), nullptr, c.limit, c.stop_at_surrogate);
    std::string written(c.limit + 4, '#');
    size_t length = Utf16ToUtf8(c.text.c_str(), &written[0], c.limit, c.stop_at_surrogate);
    EXPECT_EQ(measured, c.utf8.size());
    EXPECT_EQ(length, c.utf8.size());
    EXPECT_EQ(written.substr(0, length), c.utf8);
    // Nothing is written past the converted bytes, not even a NUL.
    EXPECT_EQ(written.substr(length), std::string(written.size() - length, '#'));
  }
}

}  // namespace

namespace {

// The well-formed sequences as the Unicode standard tabulates them: the
// lead byte's range, the second byte's, and the length.
struct Row {
  unsigned lead_low, lead_high, second_low, second_high;
  int length;
};
const Row ROWS[] = {{0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2},
                    {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
                    {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
                    {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4},
                    {0xF4, 0xF4, 0x80, 0x8F, 4}};

Utf8Char ReadByTheTable(const unsigned char *b, size_t left) {
  for (const Row &row : ROWS) {
    if (b[0] < row.lead_low || b[0] > row.lead_high) continue;
    UINT32 code = row.length == 1 ? b[0] : b[0] & (0xFF >> (row.length + 1));
    for (int k = 1; k < row.length; ++k) {
      if (static_cast<size_t>(k) >= left) return {0, b[0]};
      unsigned low = k == 1 ? row.second_low : 0x80, high = k == 1 ? row.second_high : 0xBF;
      if (b[k] < low || b[k] > high) return {-k, b[0]};
      code = code << 6 | (b[k] & 0x3F);
    }
    return {row.length, code};
  }
  return {-1, b[0]};
}

// Every lead byte with every two bytes after it, a fourth byte that does
// and one that does not continue, and every length at hand.
TEST(ReadUtf8, AgreesWithTheStandardsTableOnEverySequence) {
  unsigned differences = 0;
  for (UINT32 n = 0; n < (1u << 24); ++n) {
    if (n < 0x800000 && (n & 0xFFFF) != 0) continue;  // an ASCII lead decides alone
    for (unsigned char fourth : {0x80, 0x41}) {
      const unsigned char b[4] = {static_cast<unsigned char>(n >> 16),
                                  static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n),
                                  fourth};
      for (size_t left = 1; left <= 4; ++left) {
        Utf8Char read = ReadUtf8(b, left), expected = ReadByTheTable(b, left);
        if (read.Length != expected.Length || read.Code != expected.Code) {
          if (++differences <= 5) {
            ADD_FAILURE() << std::hex << n << " " << unsigned(fourth) << " left " << left << ": "
                          << read.Length << "/" << read.Code << " not " << expected.Length << "/"
                          << expected.Code;
          }
        }
      }
    }
  }
  EXPECT_EQ(differences, 0u);
}

// A name from untrusted text (a path in SHA256SUMS) keeps its characters,
// and an overlong form of '.', '/' or '\\' never becomes one.
TEST(Utf8ToUtf16, BrokenBytesAreNoSeparatorOrDot) {
  const struct {
    const char *utf8;
    size_t limit;
    std::u16string utf16;
  } cases[] = {
      {"bios/x\xC3\xA9.rom", 255, u"bios\\x\u00e9.rom"},
      {"\xC0\xAE\xC0\xAE/x", 255, u"\uFFFD\uFFFD\uFFFD\uFFFD\\x"},
      {"a\xC1\x9C" "b\xE0\x80\xAF", 255, u"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x9F\x98\x80!", 255, u"\uFFFD!"},
      {"\xE2\x82", 255, u"\uFFFD"},  // cut short by the NUL
      {"abc", 2, u"ab"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.utf8);
    CHAR16 out[256];
    size_t units = Utf8ToUtf16(c.utf8, out, c.limit);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(out), units), c.utf16);
    EXPECT_EQ(out[units], 0);
  }
}

}  // namespace
