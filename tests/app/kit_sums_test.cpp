// SHA256SUMS lines: the forms sha256sum writes are read, and every line the
// image must not act on is named by its number.
#include "app/kit_sums.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kA(64, 'a');
const std::string kB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

struct Parsed {
  unsigned line;
  std::vector<std::string> paths;
};

Parsed Parse(std::string text, bool cut = false) {
  text.push_back('\0');  // the room for one more byte
  std::vector<SumsEntry> entries(SUMS_LINE_LIMIT);
  unsigned count = 0;
  Parsed parsed;
  parsed.line = ParseKitSums(&text[0], text.size() - 1, cut, entries.data(), &count);
  for (unsigned i = 0; parsed.line == 0 && i < count; ++i) {
    parsed.paths.push_back(entries[i].Path);
    EXPECT_EQ(std::string(entries[i].Digest, 64), i % 2 == 0 ? kA : kB);
  }
  return parsed;
}

TEST(ParseKitSums, ReadsWhatSha256sumWritesAndNamesTheFirstBadLine) {
  std::string good = kA + "  UpdateConfig.ini\n" + kB + " *bios/X 1.rom\n";
  std::string many;
  for (unsigned i = 0; i < SUMS_LINE_LIMIT; ++i) {
    many += (i % 2 == 0 ? kA : kB) + "  f" + std::to_string(i) + "\n";
  }
  const struct {
    const char *name;
    std::string text;
    bool cut;
    unsigned line;
    std::vector<std::string> paths;
  } cases[] = {
      {"text and binary mode", good, false, 0, {"UpdateConfig.ini", "bios/X 1.rom"}},
      {"CR LF, no LF at the end", kA + "  a\r\n" + kB + "  b", false, 0, {"a", "b"}},
      {"empty", "", false, 0, {}},
      {"upper-case hex", good + std::string(64, 'A') + "  c\n", false, 3, {}},
      {"63 digits", std::string(63, 'a') + "   c\n", false, 1, {}},
      {"one blank", kA + " c\n", false, 1, {}},
      {"no path", kA + "  \n", false, 1, {}},
      {"blank line", good + "\n", false, 3, {}},
      {"..", kA + "  a/../../x\n", false, 1, {}},
      {".", kA + "  ./x\n", false, 1, {}},
      {"empty name", kA + "  a//x\n", false, 1, {}},
      {"leading /", kA + "  /etc/passwd\n", false, 1, {}},
      {"backslash", kA + "  \\x\n", false, 1, {}},
      {"control character", kA + "  a\tb\n", false, 1, {}},
      {"DEL", kA + "  a\x7f\n", false, 1, {}},
      {"duplicate, case aside", good + kA + "  BIOS/x 1.ROM\n", false, 3, {}},
      {"too long a path", kA + "  " + std::string(SUMS_PATH_LIMIT + 1, 'x') + "\n", false, 1, {}},
      {"4096 lines", many, false, 0, {}},
      {"4097 lines", many + kA + "  g\n", false, SUMS_LINE_LIMIT + 1, {}},
      {"cut in a line", good + kA.substr(0, 10), true, 3, {}},
      {"cut after a line", good, true, 3, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Parsed parsed = Parse(c.text, c.cut);
    EXPECT_EQ(parsed.line, c.line);
    if (c.line == 0 && !c.paths.empty()) {
      EXPECT_EQ(parsed.paths, c.paths);
    }
  }
}

TEST(SamePath, FoldsAsciiCaseAndEitherSeparator) {
  EXPECT_TRUE(SamePath("bios/X.rom", "BIOS\\x.ROM"));
  EXPECT_FALSE(SamePath("bios/X.rom", "bios/X.ro"));
  EXPECT_FALSE(SamePath("bios/X.ro", "bios/X.rom"));
  EXPECT_FALSE(SamePath("caf\xc3\xa9", "CAF\xc3\x89"));  // beyond ASCII, as bytes
}

}  // namespace
