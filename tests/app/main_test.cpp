// Whole runs of the application on the simulated firmware: the walk over the
// structure table, the scripts the shell is asked to run, and the status.
#include "app/main.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/entry.h"
#include "sim/firmware.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;

const std::u16string OLD = u"UpdateHWOld.nsh";
const std::u16string NEW = u"UpdateHWNew.nsh";
const std::string CONFIG = "ProductName=Board\r\nVersion=2\r\n";

struct RunResult {
  EFI_STATUS status;
  std::vector<std::u16string> executed;
  std::vector<std::u16string> console;
};

RunResult RunApp(const std::vector<uint8_t> &table, uint16_t count, const std::string *config = &CONFIG,
           sim::Options options = sim::Options()) {
  sim::Firmware fw(options);
  fw.PublishSmbios2(table, count);
  if (config != nullptr) fw.AddFile("UpdateConfig.ini", *config);
  RunResult run;
  run.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  run.executed = fw.Executed();
  run.console = fw.ConsoleLines();
  EXPECT_EQ(sim::LeakReport(fw), "");
  return run;
}

using Scripts = std::vector<std::u16string>;

TEST(WholeRun, OneBiosStructureAnywhereRunsExactlyOneScript) {
  for (size_t position = 0; position < 3; ++position) {
    SmbiosTableBuilder b;
    for (size_t i = 0; i < 3; ++i) {
      if (i == position) {
        b.AddBios(static_cast<uint16_t>(i), "1.07");
      } else {
        b.Add(static_cast<uint8_t>(i + 1), static_cast<uint16_t>(i), {"x", "y"});
      }
    }
    RunResult run = RunApp(b.Bytes(), 3);
    EXPECT_EQ(run.status, EFI_SUCCESS);
    EXPECT_EQ(run.executed, Scripts{OLD}) << position;
    EXPECT_TRUE(run.console.empty());
  }
}

TEST(WholeRun, TwoBiosStructuresRunTwoScriptsInTableOrder) {
  SmbiosTableBuilder b;
  b.AddBios(0x10, "3.1").Add(1, 0x11, {}).AddBios(0x12, "1.9");
  RunResult run = RunApp(b.Bytes(), 3);
  EXPECT_EQ(run.status, EFI_SUCCESS);
  EXPECT_EQ(run.executed, (Scripts{NEW, OLD}));
}

TEST(WholeRun, WalkEndsAtDeclaredCountEndOfTableOrInvalidHandle) {
  SmbiosTableBuilder b;
  b.Add(1, 0, {}).AddBios(1, "1").Add(2, 2, {}).AddBios(3, "9");
  // No BIOS Information structure reached: nothing decided, not a success.
  for (uint16_t count : {0, 1}) {
    RunResult run = RunApp(b.Bytes(), count);
    EXPECT_EQ(run.executed, Scripts{});
    EXPECT_EQ(run.status, EFI_ABORTED);
    EXPECT_TRUE(run.console.empty());
  }
  EXPECT_EQ(RunApp(b.Bytes(), 3).executed, Scripts{OLD});
  EXPECT_EQ(RunApp(b.Bytes(), 4).executed, (Scripts{OLD, NEW}));
  EXPECT_EQ(RunApp(b.Bytes(), 200).executed, (Scripts{OLD, NEW}));

  SmbiosTableBuilder first_invalid;
  first_invalid.Add(1, 0xFFFF, {}).AddBios(1, "1");
  RunResult run = RunApp(first_invalid.Bytes(), 2);
  EXPECT_EQ(run.executed, Scripts{});
  EXPECT_EQ(run.status, EFI_ABORTED);
}

TEST(WholeRun, RepeatedHandlesNeverRunAScriptTwice) {
  SmbiosTableBuilder b;
  b.AddBios(0x20, "1").Add(1, 0x21, {}).Add(2, 0x20, {}).Add(3, 0x22, {});
  // The structure after handle 0x21 bears 0x20 again: fetching it returns the
  // BIOS Information structure a second time, and the walk stops there.
  RunResult run = RunApp(b.Bytes(), 100);
  EXPECT_EQ(run.executed, Scripts{OLD});
  EXPECT_EQ(run.status, EFI_SUCCESS);
}

TEST(WholeRun, DamagedTableStopsBeforeTheDamage) {
  SmbiosTableBuilder b;
  b.AddBios(0x01, "1").Raw({0, 2, 0x02, 0, 'x', 0, 0});  // Length below 4
  EXPECT_EQ(RunApp(b.Bytes(), 5).executed, Scripts{OLD});

  // A BIOS Information structure whose strings run off the table.
  SmbiosTableBuilder cut;
  cut.Add(1, 0x01, {}).Raw({0, 4, 0x02, 0, '9', '9'});
  RunResult run = RunApp(cut.Bytes(), 5);
  EXPECT_EQ(run.executed, Scripts{});
  EXPECT_EQ(run.status, EFI_ABORTED);
}

TEST(WholeRun, BiosStructureWithoutVersionRunsNoScriptAndAborts) {
  SmbiosTableBuilder b;
  b.Add(0, 0x01, {"VendorOnly"}, 0x18).AddBios(0x02, "5");
  RunResult run = RunApp(b.Bytes(), 2);
  EXPECT_EQ(run.executed, Scripts{NEW});
  EXPECT_EQ(run.console, std::vector<std::u16string>{u"ERROR: BIOS version not found.\r\n"});
  EXPECT_EQ(run.status, EFI_ABORTED);
}

TEST(WholeRun, NoDecisionWithoutTableOrConfiguration) {
  SmbiosTableBuilder b;
  b.AddBios(0, "1");
  RunResult run = RunApp(b.Bytes(), 1, nullptr);
  EXPECT_EQ(run.status, EFI_ABORTED);
  EXPECT_EQ(run.executed, Scripts{});
  EXPECT_EQ(run.console, std::vector<std::u16string>{u"UpdateConfig.ini not found\r\n"});

  const std::string no_version = "ProductName=Board\r\n";
  run = RunApp(b.Bytes(), 1, &no_version);
  EXPECT_EQ(run.status, EFI_ABORTED);
  EXPECT_EQ(run.executed, Scripts{});

  sim::Firmware fw;
  fw.AddFile("UpdateConfig.ini", CONFIG);
  EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main), EFI_ABORTED);
  EXPECT_EQ(fw.ConsoleLines(), std::vector<std::u16string>{u"ERROR: SMBIOS table not found.\r\n"});
  EXPECT_EQ(fw.Executed(), Scripts{});
  EXPECT_EQ(sim::LeakReport(fw), "");
}

TEST(WholeRun, ArgumentsAndShellGenerationChangeNothing) {
  SmbiosTableBuilder b;
  b.AddBios(0, "2.10");
  sim::Options with_args;
  with_args.args = {u"BiosUpdateSelect.efi", u"-f", u"UpdateHWOld.nsh", u"\u20AC"};
  EXPECT_EQ(RunApp(b.Bytes(), 1, &CONFIG, with_args).executed, Scripts{NEW});

  sim::Options legacy;
  legacy.shell = sim::ShellKind::Legacy;
  RunResult run = RunApp(b.Bytes(), 1, &CONFIG, legacy);
  EXPECT_EQ(run.executed, Scripts{NEW});
  EXPECT_EQ(run.status, EFI_SUCCESS);
}

}  // namespace
