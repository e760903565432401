// Text conversions and file-name splitting of the simulated firmware: the
// preview's arguments arrive as UTF-8, shell names as UTF-16 with either
// separator.
#include <gtest/gtest.h>

#include "sim/internal.h"

namespace {

TEST(SimNames, Utf8ToUtf16ReplacesWhatIsNotUtf8) {
  const struct {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"", u""},
      {"plain", u"plain"},
      {"\xC3\xA9\xE2\x82\xAC", u"\u00e9\u20ac"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xFFz", u"a\uFFFDz"},           // never a lead byte
      {"\xC3", u"\uFFFD"},               // cut short
      {"\xC0\xAF", u"\uFFFD\uFFFD"},     // overlong '/'
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
  };
  for (const auto &c : cases) {
    EXPECT_EQ(sim::ToUtf16(c.in), c.out) << c.in;
  }
  EXPECT_EQ(sim::ToUtf8(u"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(sim::ToUtf8(std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
}

TEST(SimNames, SplitPathResolvesLikeTheShell) {
  const std::vector<std::string> base = {"EFI", "Tools"};
  const struct {
    std::string name;
    std::vector<std::string> path;
  } cases[] = {
      {"UpdateConfig.ini", {"EFI", "Tools", "UpdateConfig.ini"}},
      {"\\UpdateConfig.ini", {"UpdateConfig.ini"}},
      {"/a/b", {"a", "b"}},
      {"..\\..\\..\\x", {"x"}},
      {".\\a\\\\b\\", {"EFI", "Tools", "a", "b"}},
      {"fs0:\\kit\\a.ini", {"kit", "a.ini"}},
      {"FS1:a.ini", {"EFI", "Tools", "a.ini"}},
      {"a:b\\c", {"EFI", "Tools", "b", "c"}},
      {"", {"EFI", "Tools"}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(sim::SplitPath(c.name, base), c.path) << c.name;
  }
  EXPECT_TRUE(sim::NamesEqualIgnoringCase("UpdateConfig.INI", "updateconfig.ini"));
  EXPECT_FALSE(sim::NamesEqualIgnoringCase("UpdateConfig.ini", "UpdateConfig.in"));
  EXPECT_FALSE(sim::NamesEqualIgnoringCase("a[", "A{"));
}

}  // namespace
