// The configuration search on files served by the simulated shell, read
// through the C library streams inside the real shell-application frame.
#include "app/update_config.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/entry.h"
#include "sim/firmware.h"

namespace {

std::function<void()> gBody;
int RunBody(int, char **) {
  gBody();
  return 0;
}

struct Loaded {
  ConfigResult result;
  std::string product;
  std::string version;
  std::string whole_product;
  std::string whole_version;
  std::vector<std::u16string> console;
  unsigned reads;
};

Loaded LoadFrom(const std::string *bytes, sim::ShellKind shell = sim::ShellKind::Uefi2,
                unsigned failing_read = 0, bool whole_values = false) {
  sim::Options options;
  options.shell = shell;
  sim::Firmware fw(options);
  if (failing_read != 0) fw.FailNth(sim::Call::FileRead, failing_read);
  if (bytes != nullptr) fw.AddFile("UpdateConfig.ini", *bytes);
  Loaded out = {};
  gBody = [&] {
    UpdateConfig config;
    out.result = LoadUpdateConfig(&config, whole_values);
    out.product = config.ProductName;
    out.version = config.Version;
    out.whole_product = config.WholeProductName;
    out.whole_version = config.WholeVersion;
  };
  EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), RunBody), EFI_SUCCESS);
  out.console = fw.ConsoleLines();
  out.reads = fw.Count(sim::Call::FileRead);
  EXPECT_EQ(sim::LeakReport(fw), "");
  return out;
}

TEST(LoadUpdateConfig, SearchRules) {
  struct Case {
    const char *name;
    std::string file;
    std::string product;
    std::string version;
  };
  const Case cases[] = {
      {"plain CR LF lines", "ProductName=Model7\r\nVersion=12\r\n", "Model7", "12"},
      {"flag on a longer key is passed over",
       "CheckProductName=YES\r\nProductName=Model7\r\nVersion=12\r\n", "Model7", "12"},
      {"only one further search",
       "CheckProductName=YES\r\nUseProductName=NO\r\nProductName=X\r\nVersion=1\r\n", "NO", "1"},
      {"flag at offset 0 is read again", "ProductName=YES\r\nVersion=3\r\n", "YES", "3"},
      {"flag on the only occurrence", "xProductName=NO\nVersion=4\n", "", "4"},
      {"case-sensitive flags", "ProductName=yes\nVersion=5\n", "yes", "5"},
      {"NOVA counts as a flag", "xProductName=NOVA\nVersion=5\n", "", "5"},
      {"YE with its line end is no flag", "ProductName=YE\r\nVersion=5\n", "YE", "5"},
      {"empty product name", "ProductName=\r\nVersion=6\r\n", "", "6"},
      {"LF", "Version=12\nProductName=P\n", "P", "12"},
      {"lone CR", "Version=12\rmore text\n", "", "12"},
      {"nine bytes at most", "Version=ABCDEFGHIJ\n", "", "ABCDEFGHI"},
      {"empty version", "ProductName=P\nVersion=\r\n", "P", ""},
      {"no line end at the end", "ProductName=P\nVersion=42", "P", "42"},
      {"'=' is the last byte", "ProductName=P\nVersion=", "P", ""},
      {"first occurrence wins", "BIOSVersion=7\nVersion=9\n", "", "7"},
      {"inside a comment", "; Version=3\nVersion=9\n", "", "3"},
      {"blank before '=' is no key", "Version = 8\nVersion= 9\n", "", " 9"},
      {"lower case is no key", "version=1\nVersion=2\n", "", "2"},
      {"byte-order mark", "\xEF\xBB\xBFProductName=P\r\nVersion=3\r\n", "P", "3"},
      {"NUL ends a value", std::string("Version=1\0" "99\n", 13), "", "1"},
      {"NUL before the key", std::string("\0\0Version=77\n", 13), "", "77"},
      {"overlapping text", "VVersion=Version=5\n", "", "Version=5"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Loaded got = LoadFrom(&c.file);
    EXPECT_EQ(got.result, ConfigResult::Loaded);
    EXPECT_EQ(got.product, c.product);
    EXPECT_EQ(got.version, c.version);
    EXPECT_TRUE(got.console.empty());
  }
}

TEST(LoadUpdateConfig, MissingFileOrKeyEndsWithItsMessage) {
  Loaded got = LoadFrom(nullptr);
  EXPECT_EQ(got.result, ConfigResult::FileNotFound);
  EXPECT_EQ(got.console, std::vector<std::u16string>{u"UpdateConfig.ini not found\r\n"});

  const std::u16string no_version = u"ERROR: Version= not found in UpdateConfig.ini.\r\n";
  std::string utf16;
  for (char c : std::string("ProductName=P\r\nVersion=3\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  for (const std::string &file : {std::string(), std::string("ProductName=P\n"), utf16,
                                   std::string("Version")}) {
    got = LoadFrom(&file);
    EXPECT_EQ(got.result, ConfigResult::VersionNotFound);
    EXPECT_EQ(got.console, std::vector<std::u16string>{no_version});
  }
}

TEST(LoadUpdateConfig, LargeFileWithKeysAtTheEnd) {
  std::string file;
  while (file.size() < (1u << 20)) file += "; padding comment line without any key in it\r\n";
  file += "ProductName=Big\r\nVersion=31\r\n";
  Loaded got = LoadFrom(&file);
  EXPECT_EQ(got.result, ConfigResult::Loaded);
  EXPECT_EQ(got.product, "Big");
  EXPECT_EQ(got.version, "31");
}

TEST(LoadUpdateConfig, FailedReadIsNeverTakenForTheEndOfTheFile) {
  // The value straddles the first stream buffer: a failed second read must
  // not leave a truncated or empty version behind.
  for (size_t at : {size_t{4000}, size_t{4090}, size_t{4094}, size_t{5000}}) {
    std::string file(at, ';');
    file += "Version=12\r\n";
    for (sim::ShellKind shell : {sim::ShellKind::Uefi2, sim::ShellKind::Legacy}) {
      Loaded got = LoadFrom(&file, shell, 2);
      SCOPED_TRACE(at);
      if (got.result == ConfigResult::Loaded) {
        EXPECT_EQ(got.version, "12");  // read whole before the failing read
      } else {
        EXPECT_EQ(got.result, ConfigResult::ReadError);
        EXPECT_EQ(got.version, "");
        EXPECT_EQ(got.console,
                  std::vector<std::u16string>{u"ERROR: UpdateConfig.ini could not be read.\r\n"});
      }
    }
  }
  std::string file = "ProductName=P\nVersion=3\n";
  EXPECT_EQ(LoadFrom(&file, sim::ShellKind::Uefi2, 1).result, ConfigResult::ReadError);
}

TEST(LoadUpdateConfig, ReadsTheSameUnderTheLegacyShell) {
  std::string file = "CheckProductName=YES\r\nProductName=Model7\r\nVersion=12\r\n";
  Loaded got = LoadFrom(&file, sim::ShellKind::Legacy);
  EXPECT_EQ(got.result, ConfigResult::Loaded);
  EXPECT_EQ(got.product, "Model7");
  EXPECT_EQ(got.version, "12");
}

TEST(LoadUpdateConfig, WholeValuesComeFromTheSameOccurrencesUpToTheLineEnd) {
  struct Case {
    const char *name;
    std::string file;
    std::string whole_product;
    std::string whole_version;
  };
  const std::string long_value(70, '7');
  std::string list_300;
  while (list_300.size() < 300) list_300 += "20L" + std::to_string(list_300.size() % 10) + "*|";
  const Case cases[] = {
      {"past nine bytes", "ProductName=ThinkStation P920\r\nVersion=7LET60WW (1.30 )\r\n",
       "ThinkStation P920", "7LET60WW (1.30 )"},
      {"trailing blanks kept", "ProductName=Model7  \nVersion=A07 \n", "Model7  ", "A07 "},
      {"the flag rule picks the occurrence",
       "CheckProductName=YES\r\nProductName=Server X1\r\nVersion=1.22.1\r\n", "Server X1",
       "1.22.1"},
      {"flag on the only occurrence", "xProductName=NO\nVersion=4\n", "", "4"},
      {"first Version= wins", "BIOSVersion=7.1\nVersion=9\n", "", "7.1"},
      {"lone CR", "Version=1.2.3\rmore\n", "", "1.2.3"},
      {"NUL ends it", std::string("Version=1.2\0" ".3\n", 15), "", "1.2"},
      {"end of file", "ProductName=P\nVersion=2.10.0", "P", "2.10.0"},
      {"at most 64 bytes", "Version=" + long_value + "\n", "", std::string(64, '7')},
      // A product list may be longer than a version: 255 bytes.
      {"a product list past 64 bytes", "ProductName=" + list_300.substr(0, 200) + "\nVersion=1\n",
       list_300.substr(0, 200), "1"},
      {"at most 255 bytes of product", "ProductName=" + list_300 + "\nVersion=1\n",
       list_300.substr(0, 255), "1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Loaded got = LoadFrom(&c.file, sim::ShellKind::Uefi2, 0, true);
    EXPECT_EQ(got.result, ConfigResult::Loaded);
    EXPECT_EQ(got.whole_product, c.whole_product);
    EXPECT_EQ(got.whole_version, c.whole_version);
    // The nine-byte values are the same as without the whole ones.
    Loaded plain = LoadFrom(&c.file);
    EXPECT_EQ(got.product, plain.product);
    EXPECT_EQ(got.version, plain.version);
    EXPECT_EQ(plain.whole_version, "");
  }
}

TEST(LoadUpdateConfig, WholeValuesThatCannotBeReadFailTheLoad) {
  // The whole version is the last read; failing it must not leave a cut
  // value behind for the segment rule.
  std::string file = "ProductName=P\nVersion=1.2.3\n";
  Loaded plain = LoadFrom(&file, sim::ShellKind::Uefi2, 0, true);
  ASSERT_EQ(plain.result, ConfigResult::Loaded);
  for (unsigned nth = 1; nth <= plain.reads; ++nth) {
    SCOPED_TRACE(nth);
    Loaded got = LoadFrom(&file, sim::ShellKind::Uefi2, nth, true);
    if (got.result == ConfigResult::Loaded) {
      EXPECT_EQ(got.whole_version, "1.2.3");
    } else {
      EXPECT_EQ(got.result, ConfigResult::ReadError);
      EXPECT_EQ(got.whole_version, "");
    }
  }
}

TEST(IsFlagValue, YesNoRule) {
  for (const char *flag : {"", "Y", "YE", "YES", "YES\r\n", "YESX", "N", "NO", "NO\n", "NOVA"}) {
    EXPECT_TRUE(IsFlagValue(flag)) << flag;
  }
  for (const char *name : {"YE\r\n", "Y\n", "N\n", "yes", "No", "X", " YES", "\r\n"}) {
    EXPECT_FALSE(IsFlagValue(name)) << name;
  }
}

}  // namespace
