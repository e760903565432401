// The segment rule on the version strings real firmware ships.
#include "app/version_segments.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using C = SegmentComparison;

struct Case {
  std::string installed;
  std::string configured;
  SegmentComparison expected;
};

void CheckAll(const Case *cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE("installed \"" + c.installed + "\", configured \"" + c.configured + "\"");
    EXPECT_EQ(CompareVersionSegments(c.installed.c_str(), c.configured.c_str()), c.expected);
    // The rule is symmetric: swapping the texts mirrors the outcome.
    SegmentComparison mirrored = c.expected == C::Below   ? C::Above
                                 : c.expected == C::Above ? C::Below
                                                          : c.expected;
    EXPECT_EQ(CompareVersionSegments(c.configured.c_str(), c.installed.c_str()), mirrored);
  }
}

TEST(CompareVersionSegments, OrdersRealWorldVersionStrings) {
  const Case cases[] = {
      {"A05", "A07", C::Below},
      {"1.22.1", "1.3.4", C::Above},
      {"2.8.2", "2.10.0", C::Below},
      {"01.02.05", "1.2.7", C::Below},
      {"7LET56WW (1.26 )", "7LET60WW (1.30 )", C::Below},
      {"N01 Ver. 02.16", "n01 ver 2.17", C::Below},
      {"P61", "P61", C::Equal},
      {"7LET56WW (1.26 )", "8AET46WW (1.26 )", C::NotComparable},
      {"A05", "1.2.0", C::NotComparable},
      {"1.2", "1.2.1", C::NotComparable},
      // Further shapes seen on real machines.
      {"I15", "I17", C::Below},
      {"-[A3E148AUS-1.07]-", "-[A3E148AUS-1.09]-", C::Below},
      {"G1ET45WW (1.20 )", "G1ET45WW (1.20 )", C::Equal},
      {"F.42", "F.40", C::Above},
      {"F.42", "f-42", C::Equal},                // separators and case do not count
      {"V1.05", "1.05", C::NotComparable},      // a word against a number
      {"1.26", "1.26a", C::NotComparable},
      {"1.07", "1.09", C::Below},               // what the integer rule cannot see
  };
  CheckAll(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(CompareVersionSegments, NumbersCompareByValueAtAnyLength) {
  const Case cases[] = {
      {"0", "00", C::Equal},
      {"007", "7", C::Equal},
      {"9", "10", C::Below},
      {"99999999999999999999999999", "100000000000000000000000000", C::Below},
      {"18446744073709551616", "18446744073709551615", C::Above},  // past 64 bits
      {"000000000000000000000000001", "2", C::Below},
      {"1.0", "1.00", C::Equal},
      {"3.1", "2.9", C::Above},                 // the first unequal pair decides
      {"2.1.9", "2.1.10", C::Below},
  };
  CheckAll(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(CompareVersionSegments, TextsWithoutTokensOrOfAnotherSchemeAreNotComparable) {
  const Case cases[] = {
      {"", "", C::NotComparable},
      {"       ", "", C::NotComparable},       // a string of blanks holds no version
      {" .-", "()", C::NotComparable},
      {"A05", "", C::NotComparable},
      {"1.2", "1.2.A", C::NotComparable},
      {"1.2 beta", "1.3 rc", C::NotComparable},  // the words must agree too
      {"2.0 beta", "1.0 rc", C::NotComparable},  // even when a number already decided
      {"\x80" "1\xff" "2", "1.3", C::Below},     // bytes from 0x80 on only separate
  };
  CheckAll(cases, sizeof(cases) / sizeof(cases[0]));
}

}  // namespace
