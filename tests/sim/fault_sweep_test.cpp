// Whole runs of the application on the simulated firmware with one firmware
// call made to fail at a time: every call kind, every call number a clean
// run makes, under both shells and none. Whatever fails, the run releases
// every pool block and file handle, never runs a script the clean run would
// not run, and ends with a failure status when the decision was not made.
//
// FreePool is left out: a release that fails leaves its block behind
// whatever the caller does.
#include <gtest/gtest.h>

#include <iostream>

#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "support/smbios_table_builder.h"

namespace {

struct Scenario {
  const char *name;
  sim::ShellKind shell;
  bool with_smbios;
  bool with_config;
};

struct Outcome {
  EFI_STATUS status;
  std::vector<std::u16string> executed;
  std::string leaks;
  std::vector<unsigned> counts;
};

Outcome RunOnce(const Scenario &scenario, int faulted, unsigned nth) {
  sim::Options options;
  options.shell = scenario.shell;
  sim::Firmware fw(options);
  if (scenario.with_smbios) {
    testsupport::SmbiosTableBuilder table;
    table.Add(1, 0x0001, {"Acme", "Board"}, 8).AddBios(0x0000, "1.07");
    table.Raw({127, 4, 0xFF, 0xFE, 0, 0});
    fw.PublishSmbios2(table.Bytes(), 3);
  }
  if (scenario.with_config) fw.AddFile("UpdateConfig.ini", "ProductName=Board\r\nVersion=2\r\n");
  if (faulted >= 0) {
    sim::Call call = static_cast<sim::Call>(faulted);
    fw.FailNth(call, nth, call == sim::Call::AllocatePool ? EFI_OUT_OF_RESOURCES : EFI_DEVICE_ERROR);
  }
  Outcome outcome;
  outcome.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  outcome.executed = fw.Executed();
  outcome.leaks = sim::LeakReport(fw);
  for (unsigned i = 0; i < static_cast<unsigned>(sim::Call::kCount); ++i) {
    outcome.counts.push_back(fw.Count(static_cast<sim::Call>(i)));
  }
  if (faulted >= 0) {
    EXPECT_EQ(fw.FaultsInjected(), 1u);
  }
  return outcome;
}

TEST(FaultSweep, EveryFailedCallEndsCleanAndSafe) {
  const Scenario scenarios[] = {
      {"shell 2.0", sim::ShellKind::Uefi2, true, true},
      {"legacy shell", sim::ShellKind::Legacy, true, true},
      {"no shell", sim::ShellKind::None, true, true},
      {"no configuration", sim::ShellKind::Uefi2, true, false},
      {"legacy, no configuration", sim::ShellKind::Legacy, true, false},
      {"no SMBIOS", sim::ShellKind::Uefi2, false, true},
  };
  unsigned injected = 0;
  for (const Scenario &scenario : scenarios) {
    Outcome clean = RunOnce(scenario, -1, 0);
    ASSERT_EQ(clean.leaks, "") << scenario.name;
    bool decided = !clean.executed.empty();
    for (unsigned kind = 0; kind < static_cast<unsigned>(sim::Call::kCount); ++kind) {
      sim::Call call = static_cast<sim::Call>(kind);
      if (call == sim::Call::FreePool) continue;
      bool runs_command = call == sim::Call::ShellExecute || call == sim::Call::LegacyExecute;
      for (unsigned nth = 1; nth <= clean.counts[kind]; ++nth) {
        SCOPED_TRACE(testing::Message() << scenario.name << ", " << sim::CallName(call) << " #" << nth);
        Outcome run = RunOnce(scenario, static_cast<int>(kind), nth);
        ++injected;
        EXPECT_EQ(run.leaks, "");
        if (!run.executed.empty()) {
          EXPECT_EQ(run.executed, clean.executed);
        }
        // A command that the shell failed to start was still decided on;
        // its status is not the application's to examine.
        bool made = run.executed == clean.executed || (runs_command && decided);
        if (!made || !decided) {
          EXPECT_NE(run.status, EFI_SUCCESS);
        }
      }
    }
  }
  std::cout << "[ figures  ] faults injected by the sweep: " << injected << "\n";
  RecordProperty("faults_injected", static_cast<int>(injected));
  EXPECT_GT(injected, 0u);
}

}  // namespace
