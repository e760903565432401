// The image's command line: the five options, and everything else ignored.
#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

RunOptions Parse(std::vector<std::string> arguments) {
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(&argument[0]);
  RunOptions options;
  ParseRunOptions(static_cast<int>(argv.size()), argv.data(), &options);
  return options;
}

std::string Flags(const RunOptions &o) {
  std::string flags;
  if (o.Verbose) flags += "v";
  if (o.DecideOnly) flags += "n";
  if (o.Segments) flags += "s";
  if (o.Product) flags += "p";
  if (o.Smbios3) flags += "3";
  return flags;
}

TEST(ParseRunOptions, RecognisesTheFiveOptionsInAnyCaseAndOrder) {
  struct Case {
    std::vector<std::string> args;
    std::string flags;
  };
  const Case cases[] = {
      {{"BiosUpdateSelect.efi"}, ""},
      {{}, ""},
      {{"x", "-v"}, "v"},
      {{"x", "-n"}, "vn"},  // deciding without running always says what it decided
      {{"x", "-SEGMENTS", "-Product", "-sMbIoS3"}, "sp3"},
      {{"x", "-smbios3", "-v", "-segments", "-v"}, "vs3"},
      {{"x", "-n", "-v", "-product"}, "vnp"},
      // The image's own name is never an option.
      {{"-v"}, ""},
      // Anything else is ignored, as the shell may pass more.
      {{"x", "--v", "/v", "v", "-verbose", "-s", "-segment", "-segments2", "-v ", ""}, ""},
      {{"x", "-V", "unrelated", "-N"}, "vn"},
  };
  for (const Case &c : cases) {
    std::string joined;
    for (const std::string &a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    EXPECT_EQ(Flags(Parse(c.args)), c.flags);
  }
}

TEST(ParseRunOptions, NullArgumentsArePassedOver) {
  char name[] = "x";
  char segments[] = "-segments";
  char *argv[] = {name, nullptr, segments};
  RunOptions options;
  ParseRunOptions(3, argv, &options);
  EXPECT_EQ(Flags(options), "s");
}

}  // namespace

namespace {

TEST(ParseRunOptions, LogTakesTheNextArgumentAsItsFile) {
  struct Case {
    std::vector<std::string> args;
    const char *log;  // null: no record
    std::string flags;
  };
  const Case cases[] = {
      {{"x", "-log", "\\rollout.jsonl"}, "\\rollout.jsonl", ""},
      {{"x", "-LOG", "a.jsonl", "-v"}, "a.jsonl", "v"},
      // Whatever follows is the file, even when it looks like an option.
      {{"x", "-log", "-v"}, "-v", ""},
      {{"x", "-log", "a", "-log", "b"}, "b", ""},
      {{"x", "-v", "-log"}, "", "v"},
      {{"x", "-logfile", "a"}, nullptr, ""},
      {{"-log", "a"}, nullptr, ""},
  };
  for (const Case &c : cases) {
    std::string joined;
    for (const std::string &a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    std::vector<std::string> args = c.args;
    std::vector<char *> argv;
    for (std::string &argument : args) argv.push_back(&argument[0]);
    RunOptions options;
    ParseRunOptions(static_cast<int>(argv.size()), argv.data(), &options);
    if (c.log == nullptr) {
      EXPECT_EQ(options.Log, nullptr);
    } else {
      ASSERT_NE(options.Log, nullptr);
      EXPECT_STREQ(options.Log, c.log);
    }
    EXPECT_EQ(Flags(options), c.flags);
  }
}

}  // namespace

namespace {

// The host tools' check of a kit's line: every word an option, whatever it
// begins with, -log's FILE aside; and the options named, each once.
TEST(NextNonOption, FindsEveryWordTheImageWouldPassOver) {
  struct Case {
    std::vector<std::string> args;  // from index 0: the words of --app-args
    int first;                      // the first word that is no option; size when none
  };
  const Case cases[] = {
      {{}, 0},
      {{"-segments", "-PRODUCT", "-kits", "-v", "-n", "-smbios3"}, 6},
      {{"-segment", "-product"}, 0},
      {{"-v", "-prodcut"}, 1},
      {{"-v", "product"}, 1},  // the image says nothing of it; the tools refuse it
      {{"-log", "-prodcut", "-v"}, 3},
      {{"-v", "-log"}, 1},     // -log without its FILE
      {{"-log", "a", "--v"}, 2},
  };
  for (const Case &c : cases) {
    std::string joined;
    for (const std::string &a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    std::vector<std::string> args = c.args;
    std::vector<char *> argv;
    for (std::string &argument : args) argv.push_back(&argument[0]);
    EXPECT_EQ(NextNonOption(static_cast<int>(argv.size()), argv.data(), 0), c.first);
  }
  std::vector<std::string> names;
  for (int i = 0; RunOptionName(i) != nullptr; ++i) names.push_back(RunOptionName(i));
  EXPECT_EQ(names, (std::vector<std::string>{"-v", "-n", "-segments", "-product", "-smbios3",
                                             "-kits", "-verify", "-hwids", "-log"}));
  EXPECT_EQ(RunOptionName(-1), nullptr);
}

}  // namespace
