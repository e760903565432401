// Properties of the report's text handling over random texts: what the
// table and the page show is UTF-8 that holds no control character, a CSV
// field never begins like a formula, and a shown text is cut between
// characters.
#include "fleet/shown_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fleet/report_csv.h"
#include "support/random_text.h"

namespace {

// A strict UTF-8 check, written apart from the one under test.
bool IsUtf8(const std::string &text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < LEAST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

bool HoldsControl(const std::string &text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return true;
  }
  return false;
}

TEST(ReportText, CellsAreUtf8WithoutControlsAndCsvFieldsAreNoFormulas) {
  std::mt19937 random(19);
  for (int i = 0; i < 20000; ++i) {
    std::string text = RandomText(&random);
    SCOPED_TRACE(testing::PrintToString(text));
    std::string cell = fleet::Cell(text);
    EXPECT_TRUE(IsUtf8(cell));
    EXPECT_FALSE(HoldsControl(cell));
    if (IsUtf8(text) && !HoldsControl(text)) {
      EXPECT_EQ(cell, text);  // plain texts as they are
    }

    std::string field = fleet::CsvField(text);
    EXPECT_TRUE(IsUtf8(field));
    EXPECT_FALSE(HoldsControl(field));  // no NUL or ESC raw in the file
    if (!field.empty()) {
      EXPECT_EQ(std::string("=+@\t\r").find(field.front()), std::string::npos);
    }
    if (!field.empty() && field.front() == '-') {
      EXPECT_EQ(field.find_first_of("(|!=+@"), std::string::npos);
    }
    // The defence adds one quote and takes nothing away.
    EXPECT_TRUE(field == cell || field == "'" + cell);
  }
  // Real versions that begin with '-' stay as they are.
  EXPECT_EQ(fleet::CsvField("-[A3E148AUS-1.07]-"), "-[A3E148AUS-1.07]-");
  EXPECT_EQ(fleet::CsvField("-1.07-"), "-1.07-");
}

TEST(ReportText, ShownTextsAreCutAfter64BytesBetweenCharacters) {
  std::mt19937 random(64);
  for (int i = 0; i < 5000; ++i) {
    std::string text;
    while (text.size() < 90) text += RandomText(&random);
    text.resize(random() % 90);
    SCOPED_TRACE(testing::PrintToString(text));
    std::string shown = fleet::ShownText(text);
    if (text.size() <= 64) {
      EXPECT_EQ(shown, text);
      continue;
    }
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.substr(shown.size() - 3), "...");
    std::string kept = shown.substr(0, shown.size() - 3);
    EXPECT_LE(kept.size(), 64u);
    EXPECT_GE(kept.size(), 61u);
    EXPECT_EQ(text.compare(0, kept.size(), kept), 0);
    if (IsUtf8(text)) {
      EXPECT_TRUE(IsUtf8(kept));
    }
  }
}

}  // namespace
