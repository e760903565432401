// ParseVersionNumber against a table of texts, and the script choice.
#include "app/version_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParseVersionNumber, ConvertsTheLeadingDecimalNumber) {
  struct Case {
    std::string text;
    int32_t number;
  };
  const Case cases[] = {
      {"1.05", 1},
      {"  12A", 12},
      {"V1.05", 0},
      {"A0", 0},
      {"", 0},
      {"-3", -3},
      {"+7", 7},
      {"--3", 0},          // one sign only
      {"+-3", 0},
      {"- 3", -3},         // blanks after the sign are skipped
      {"-\t 0003", -3},
      {"\t\n\v\f\r 42", 42},
      {"\xA0" "5", 0},     // bytes above 0x7F are not white space
      {"007", 7},
      {"1.26", 1},
      {"8AET46WW (1.26 )", 8},
      {"P68", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},               // low 32 bits, two's complement
      {"4294967297", 1},                       // 2^32 + 1
      {"4294967296", 0},
      {"-2147483648", INT32_MIN},
      {"18446744073709551615", -1},            // 2^64 - 1
      {"18446744073709551616", -1},            // saturates
      {"99999999999999999999999", -1},
      {"-99999999999999999999999", 1},
      {"18446744073709551614", -2},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(ParseVersionNumber(c.text.c_str()), c.number) << '"' << c.text << '"';
  }
}

TEST(UpdateScriptFor, OldOnlyWhenConfiguredIsAboveInstalled) {
  struct Case {
    const char *installed;
    const char *configured;
    std::u16string script;
  };
  const Case cases[] = {
      {"1.07", "2", u"UpdateHWOld.nsh"},
      {"2.00", "2", u"UpdateHWNew.nsh"},  // equal
      {"10", "9", u"UpdateHWNew.nsh"},    // numeric, not text, order
      {"V1.05", "1", u"UpdateHWOld.nsh"},
      {"1.26", "", u"UpdateHWNew.nsh"},
      {"0", "-1", u"UpdateHWNew.nsh"},
      {"7", "007", u"UpdateHWNew.nsh"},
      {"-5", "0", u"UpdateHWOld.nsh"},    // signed comparison
      {"2147483648", "1", u"UpdateHWOld.nsh"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(UpdateScriptFor(DecideByInteger(c.installed, c.configured).Order), c.script)
        << c.installed << " vs " << c.configured;
  }
}

TEST(DescribeIntegerReading, TellsWhatTheIntegerRuleLeavesUnread) {
  struct Case {
    const char *text;
    IntegerReading reading;
  };
  const Case cases[] = {
      {"10", IntegerReading::Whole},
      {"  007 ", IntegerReading::Whole},
      {"-3", IntegerReading::Whole},
      {"", IntegerReading::Whole},
      {"   ", IntegerReading::Whole},
      {"0", IntegerReading::Whole},
      {"A05", IntegerReading::CountsAsZero},
      {"P61", IntegerReading::CountsAsZero},
      {"-[A3E148AUS-1.07]-", IntegerReading::CountsAsZero},
      {"G1ET45WW (1.20 )", IntegerReading::CountsAsZero},
      {"-", IntegerReading::CountsAsZero},
      {"1.26", IntegerReading::LeadingNumberOnly},
      {"7LET56WW (1.26 )", IntegerReading::LeadingNumberOnly},
      {"0A", IntegerReading::LeadingNumberOnly},
      {"12 ", IntegerReading::Whole},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(DescribeIntegerReading(c.text), c.reading) << '"' << c.text << '"';
  }
}

}  // namespace
