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
