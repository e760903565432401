// The product-name rule on its own: the one function both the image's
// -product check and the fleet report's kit assignment use.
#include "app/product_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProductNameMatches, NamesPrefixesAndBlanks) {
  struct Case {
    const char *product;
    const char *names;
    bool matches;
  };
  const Case cases[] = {
      // One name: exact, case included; trailing blanks do not count.
      {"Model7", "Model7", true},
      {"Model7  \t", "Model7", true},
      {"Model7", "Model7 \t", true},
      {"model7", "Model7", false},
      {" Model7", "Model7", false},
      {"Model7", "Model", false},
      {"Model", "Model7", false},
      // A list: any name serves.
      {"20L6S0CD00", "20L5CTO1WW|20L6S0CD00", true},
      {"20L5CTO1WW", "20L5CTO1WW|20L6S0CD00", true},
      {"20L7CTO1WW", "20L5CTO1WW|20L6S0CD00", false},
      {"Model7", "Model6 |Model7 |Model8", true},
      // Blanks before a name are part of it.
      {"Model7", "Model6| Model7", false},
      // A trailing '*': every product that begins with the part before it.
      {"20L5CTO1WW", "20L5*|20L6*", true},
      {"20L6S0CD00", "20L5*|20L6*", true},
      {"20L5", "20L5*", true},
      {"20L", "20L5*", false},
      {"20l5CTO1WW", "20L5*", false},
      {"20L5CTO1WW   ", "20L5*  ", true},
      {"ThinkStation P920", "ThinkStation P*", true},
      // A '*' anywhere else is a byte like any other.
      {"20L*5", "20L*5", true},
      {"20LX5", "20L*5", false},
      // Empty names, a lone '*' and an empty product match nothing.
      {"Model7", "", false},
      {"Model7", "|", false},
      {"Model7", "*", false},
      {"Model7", " *", false},
      {"Model7", "||*|", false},
      {"Model7", "|Model7", true},
      {"Model7", "Model7|", true},
      {"", "Model7", false},
      {"   ", "   ", false},
      {"", "*", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("\"") + c.product + "\" against \"" + c.names + "\"");
    EXPECT_EQ(ProductNameMatches(c.product, c.names), c.matches);
  }
}

TEST(ProductNameMatches, ALongListIsReadToItsEnd) {
  std::string names;
  for (int i = 0; i < 60; ++i) names += "M" + std::to_string(i) + "*|";
  names += "Last";
  ASSERT_GT(names.size(), 200u);
  EXPECT_TRUE(ProductNameMatches("Last", names.c_str()));
  EXPECT_TRUE(ProductNameMatches("M59X", names.c_str()));
  EXPECT_FALSE(ProductNameMatches("Las", names.c_str()));
}

}  // namespace
