// The built bios-update-select-preview, run as a user runs it: its output
// lines, its exit codes, and its refusals. The dumps are made here in the
// dump tool's layout; the committed dump corpus is run once more to show
// that no dump makes the tool fail.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/smbios_table_builder.h"
#include "support/scratch_folder.h"

namespace {

using testsupport::ShellQuote;

namespace fs = std::filesystem;

struct Result {
  std::string out;
  std::string err;
  int code;
};

class PreviewTool : public testsupport::ScratchFolderTest {
 protected:

  Result Run(const std::vector<std::string> &arguments) {
    std::string command = ShellQuote(BUS_PREVIEW_PATH);
    for (const std::string &argument : arguments) command += " " + ShellQuote(argument);
    std::string err_path = dir_ + "/stderr.txt";
    command += " 2>" + ShellQuote(err_path) + " </dev/null";
    Result result;
    result.code = testsupport::RunShellCommand(command, &result.out);
    std::ifstream err(err_path);
    std::stringstream text;
    text << err.rdbuf();
    result.err = text.str();
    return result;
  }

  // A dump with one BIOS Information structure carrying `version`, as
  // `dmidecode --dump-bin` lays it out: 2.x entry point, table at 32.
  std::string Dump2(const std::string &version, const std::string &product = "Board") {
    testsupport::SmbiosTableBuilder table;
    table.Add(1, 0x0001, {"Acme", product}, 8).SetField(0, 5, 2).AddBios(0x0000, version).Raw({127, 4, 0xFF, 0xFE, 0, 0});
    std::string bytes(32, '\0');
    std::memcpy(&bytes[0], "_SM_", 4);
    bytes[5] = 0x1F;
    bytes[6] = 2;
    bytes[7] = 8;
    std::memcpy(&bytes[0x10], "_DMI_", 5);
    uint16_t length = static_cast<uint16_t>(table.Bytes().size());
    uint32_t address = 32;
    uint16_t count = 3;
    std::memcpy(&bytes[0x16], &length, 2);
    std::memcpy(&bytes[0x18], &address, 4);
    std::memcpy(&bytes[0x1C], &count, 2);
    bytes.append(table.Bytes().begin(), table.Bytes().end());
    return Write("dump-" + version + (product == "Board" ? "" : "-" + product) + ".bin", bytes);
  }

  std::string Dump3Only() {
    std::string bytes(32, '\0');
    std::memcpy(&bytes[0], "_SM3_", 5);
    bytes[6] = 0x18;
    bytes[7] = 3;
    uint32_t size = 6;
    uint64_t address = 32;
    std::memcpy(&bytes[0x0C], &size, 4);
    std::memcpy(&bytes[0x10], &address, 8);
    bytes.append(std::string("\x7f\x04\xff\xfe\0\0", 6));
    return Write("dump-3.bin", bytes);
  }

  std::string Kit(const std::string &config) {
    Write("kit/UpdateConfig.ini", config);
    return dir_ + "/kit";
  }

};

TEST_F(PreviewTool, RunsAMediumFolderWithItsLibraryOfKits) {
  Write("medium/kits/tower/UpdateConfig.ini", "ProductName=Tower\r\nVersion=2\r\n");
  Write("medium/kits/servers/bx/UpdateConfig.ini", "ProductName=BX-2*\r\nVersion=1\r\n");
  Write("medium/kits/servers/bx/UpdateHWNew.nsh", "flash\r\n");
  std::string medium = dir_ + "/medium";
  const struct {
    std::string product;
    std::vector<std::string> extra;
    std::string out;
    int code;
  } cases[] = {
      // The preview escapes a backslash as two.
      {"Tower", {}, "execute: kits\\\\tower> UpdateHWOld.nsh\nstatus: 0x0000000000000000\n", 0},
      {"BX-2100", {}, "execute: kits\\\\servers\\\\bx> UpdateHWNew.nsh\nstatus: 0x0000000000000000\n",
       0},
      {"BX-2100", {"--legacy-shell"},
       "execute: cd \"kits\\\\servers\\\\bx\"\nexecute: kits\\\\servers\\\\bx> UpdateHWNew.nsh\n"
       "status: 0x0000000000000000\n",
       0},
      {"Desk", {},
       "console: ERROR: no kit in kits serves product \"Desk\".\\r\\n\n"
       "status: 0x8000000000000015\n",
       1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.product);
    std::vector<std::string> arguments = {"--smbios", Dump2("1.07", c.product), "--dir", medium};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    arguments.insert(arguments.end(), {"--", "-kits"});
    Result result = Run(arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(PreviewTool, ChoosesTheScriptUnderEitherShell) {
  std::string kit = Kit("ProductName=Board\r\nVersion=2\r\n");
  const struct {
    std::string version;
    std::vector<std::string> extra;
    const char *script;
    std::string console;  // what the run prints before the script
  } cases[] = {
      {"1.07", {}, "UpdateHWOld.nsh", ""},
      {"1.07", {"--legacy-shell"}, "UpdateHWOld.nsh", ""},
      {"2.00", {}, "UpdateHWNew.nsh", ""},
      {"10", {"--legacy-shell", "--", "-x", "arg"}, "UpdateHWNew.nsh",
       "console: Note: \"-x\" is not an option; it is ignored.\\r\\n\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.version);
    std::vector<std::string> arguments = {"--smbios", Dump2(c.version), "--dir", kit};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    Result result = Run(arguments);
    EXPECT_EQ(result.out,
              c.console + "execute: " + c.script + "\nstatus: 0x0000000000000000\n");
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(PreviewTool, ReportsWhatStopsTheDecision) {
  std::string kit = Kit("ProductName=Board\r\nVersion=2\r\n");
  std::string empty = dir_ + "/empty";
  fs::create_directories(empty);
  const struct {
    std::vector<std::string> arguments;
    std::string out;
  } cases[] = {
      {{"--smbios", Dump3Only(), "--dir", kit},
       "console: ERROR: SMBIOS table not found.\\r\\n\nstatus: 0x8000000000000015\n"},
      {{"--dir", kit}, "console: ERROR: SMBIOS table not found.\\r\\n\nstatus: 0x8000000000000015\n"},
      {{"--smbios", Dump2("1"), "--dir", empty},
       "console: UpdateConfig.ini not found\\r\\n\nstatus: 0x8000000000000015\n"},
      // Not started by a shell: no arguments, so the application never runs.
      {{"--no-shell", "--smbios", Dump2("1"), "--dir", kit}, "status: 0xFFFFFFFFFFFFFFFF\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    Result result = Run(c.arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(PreviewTool, DefaultDirectoryIsTheWorkingDirectory) {
  std::string kit = Kit("Version=5\n");
  std::string dump = Dump2("4");
  std::string command = "cd " + ShellQuote(kit) + " && " + ShellQuote(BUS_PREVIEW_PATH) +
                        " --smbios " + ShellQuote(dump);
  std::string out;
  EXPECT_EQ(testsupport::RunShellCommand(command, &out), 0);
  EXPECT_EQ(out, "execute: UpdateHWOld.nsh\nstatus: 0x0000000000000000\n");
}

TEST_F(PreviewTool, CannotRunGivesExitTwoAndOneLine) {
  std::string not_dump = Write("notes.txt", "hello");
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--smbios"},
      {"--legacy-shell", "--no-shell"},
      {"--smbios", dir_ + "/missing.bin"},
      {"--smbios", not_dump},
      {"--dir", dir_ + "/missing"},
  };
  for (const auto &arguments : cases) {
    SCOPED_TRACE(arguments[0]);
    Result result = Run(arguments);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.out, "");
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }
  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("Usage: bios-update-select-preview", 0), 0u);
}

TEST_F(PreviewTool, ChecksAKitAgainstTheSha256sumsThatSha256sumWrote) {
  std::string kit = Kit("ProductName=Board\r\nVersion=2\r\n");
  Write("kit/UpdateHWOld.nsh", "flash old\r\n");
  Write("kit/bios/b 1.rom", std::string(100000, '\x5a'));
  std::string sums;
  ASSERT_EQ(testsupport::RunShellCommand(
                "cd " + ShellQuote(kit) + " && sha256sum UpdateConfig.ini UpdateHWOld.nsh 'bios/b 1.rom'"
                " > SHA256SUMS && sha256sum SHA256SUMS",
                &sums),
            0);
  std::string identity = sums.substr(0, 64);
  Result intact = Run({"--check-kit", kit});
  EXPECT_EQ(intact.code, 0) << intact.err;
  EXPECT_EQ(intact.out, "console: Kit: 3 files match SHA256SUMS (kit " + identity.substr(0, 4) +
                            "..." + identity.substr(62) + ").\nidentity: " + identity +
                            "\nfiles: 3\n");
  // -verify in a run: the same check before the decision.
  Result run = Run({"--smbios", Dump2("1"), "--dir", kit, "--", "-verify"});
  EXPECT_EQ(run.out, "execute: UpdateHWOld.nsh\nstatus: 0x0000000000000000\n");

  Write("kit/bios/b 1.rom", std::string(99999, '\x5a'));
  Result damaged = Run({"--check-kit", kit});
  EXPECT_EQ(damaged.code, 1);
  EXPECT_EQ(damaged.out.substr(0, damaged.out.find('\n')),
            "console: ERROR: bios\\b 1.rom does not match SHA256SUMS.");
  run = Run({"--smbios", Dump2("1"), "--dir", kit, "--", "-verify"});
  EXPECT_EQ(run.out, "console: ERROR: bios\\\\b 1.rom does not match SHA256SUMS.\\r\\n\n"
                     "status: 0x8000000000000015\n");
}

TEST_F(PreviewTool, EveryCommittedDumpRunsToAStatus) {
  std::string kit = Kit("ProductName=Board\r\nVersion=2\r\n");
  fs::path corpus = fs::path(BUS_SOURCE_DIR) / "tests/data/dumps";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no dump corpus";
  int runs = 0;
  for (const auto &entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".bin") continue;
    for (const char *shell : {"--legacy-shell", "--"}) {
      SCOPED_TRACE(entry.path().filename().string() + " " + shell);
      Result result = Run({"--smbios", entry.path().string(), "--dir", kit, shell});
      EXPECT_TRUE(result.code == 0 || result.code == 1) << result.code << " " << result.err;
      size_t last = result.out.rfind("status: 0x");
      EXPECT_NE(last, std::string::npos);
      EXPECT_EQ(result.out.size() - last, std::strlen("status: 0x0000000000000000\n"));
      EXPECT_EQ(result.code == 0, result.out.compare(last, 28, "status: 0x0000000000000000\n") == 0);
      ++runs;
    }
  }
  EXPECT_GT(runs, 0);
}

}  // namespace
