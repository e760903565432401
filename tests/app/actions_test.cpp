// The update script's run on the simulated firmware: with -v a note when the
// shell could not run the chosen script (no such file beside the
// configuration, or the shell refused it); without -v the same calls and
// silence whatever became of the script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;
using Lines = std::vector<std::string>;

constexpr const char *OLD = "UpdateHWOld.nsh";
constexpr const char *NEW = "UpdateHWNew.nsh";
const char *const NOTE_START = "Note: the shell could not run";
// Secure Boot's refusal of an unsigned image, as a shell may pass it on.
constexpr EFI_STATUS SECURITY_VIOLATION = EFI_ERROR_BIT | 26;

struct ScriptRunCase {
  const char *name;
  sim::ShellKind shell;
  bool verbose;
  const char *version;                    // Version= of the kit; the machine holds 1.26
  std::vector<const char *> scripts;      // the files beside UpdateConfig.ini
  EFI_STATUS execute_fault;               // what the shell's execute answers; success: none
  Lines notes;                            // the console lines that begin NOTE_START
};

struct ScriptRunResult {
  EFI_STATUS status;
  Lines executed;
  Lines console;
  unsigned opens;  // file opens by name, the configuration's included
};

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out.push_back(static_cast<char>(c));
  if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) out.resize(out.size() - 2);
  return out;
}

ScriptRunResult RunKit(const ScriptRunCase &c) {
  sim::Options options;
  options.shell = c.shell;
  if (c.verbose) options.args.push_back(u"-v");
  sim::Firmware fw(options);
  SmbiosTableBuilder b;
  b.AddBios(0, "1.26");
  fw.PublishSmbios2(b.Bytes(), 1);
  fw.AddFile("UpdateConfig.ini", std::string("ProductName=Board\r\nVersion=") + c.version + "\r\n");
  for (const char *script : c.scripts) fw.AddFile(script, "echo ran\r\n");
  if (c.execute_fault != EFI_SUCCESS) {
    fw.FailAll(c.shell == sim::ShellKind::Legacy ? sim::Call::LegacyExecute : sim::Call::ShellExecute,
               c.execute_fault);
  }
  fw.ResetCounts();
  ScriptRunResult result;
  result.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  for (const std::u16string &line : fw.Executed()) result.executed.push_back(Narrow(line));
  for (const std::u16string &line : fw.ConsoleLines()) result.console.push_back(Narrow(line));
  result.opens = fw.Count(sim::Call::FileOpen);
  EXPECT_EQ(sim::LeakReport(fw), "");
  return result;
}

Lines Notes(const Lines &console) {
  Lines notes;
  for (const std::string &line : console) {
    if (line.compare(0, std::string(NOTE_START).size(), NOTE_START) == 0) notes.push_back(line);
  }
  return notes;
}

TEST(UpdateScriptRun, VerboseNotesAScriptTheShellCouldNotRun) {
  using sim::ShellKind;
  const ScriptRunCase cases[] = {
      {"present", ShellKind::Uefi2, true, "2", {OLD, NEW}, EFI_SUCCESS, {}},
      {"old script missing", ShellKind::Uefi2, true, "2", {NEW}, EFI_SUCCESS,
       {"Note: the shell could not run UpdateHWOld.nsh: Not Found."}},
      {"new script missing", ShellKind::Uefi2, true, "1", {OLD}, EFI_SUCCESS,
       {"Note: the shell could not run UpdateHWNew.nsh: Not Found."}},
      {"no scripts at all", ShellKind::Uefi2, true, "1", {}, EFI_SUCCESS,
       {"Note: the shell could not run UpdateHWNew.nsh: Not Found."}},
      {"the other script is no stand-in", ShellKind::Uefi2, true, "2", {NEW}, EFI_SUCCESS,
       {"Note: the shell could not run UpdateHWOld.nsh: Not Found."}},
      {"refused", ShellKind::Uefi2, true, "2", {OLD, NEW}, EFI_ACCESS_DENIED,
       {"Note: the shell could not run UpdateHWOld.nsh: Access Denied."}},
      {"refused and missing: the refusal is told", ShellKind::Uefi2, true, "2", {},
       SECURITY_VIOLATION,
       {"Note: the shell could not run UpdateHWOld.nsh: Security Violation."}},
      {"EFI 1.x shell, present", ShellKind::Legacy, true, "2", {OLD, NEW}, EFI_SUCCESS, {}},
      {"EFI 1.x shell, missing", ShellKind::Legacy, true, "2", {NEW}, EFI_SUCCESS,
       {"Note: the shell could not run UpdateHWOld.nsh: Not Found."}},
      // The EFI 1.x execute entry's failure arrives as the command's status,
      // where a failing script's would: that is the script's business.
      {"EFI 1.x shell, execute fails", ShellKind::Legacy, true, "2", {OLD, NEW}, EFI_ACCESS_DENIED,
       {}},
      {"plain, missing", ShellKind::Uefi2, false, "2", {}, EFI_SUCCESS, {}},
      {"plain, refused", ShellKind::Uefi2, false, "2", {OLD, NEW}, EFI_ACCESS_DENIED, {}},
      {"plain EFI 1.x, missing", ShellKind::Legacy, false, "2", {}, EFI_SUCCESS, {}},
  };
  for (const ScriptRunCase &c : cases) {
    SCOPED_TRACE(c.name);
    ScriptRunResult run = RunKit(c);
    // The run asks for the same script, and ends the same, with and without
    // the note; a refusing shell records no run.
    EXPECT_EQ(run.status, EFI_SUCCESS);
    Lines asked = {std::string(c.version) == "2" ? OLD : NEW};
    EXPECT_EQ(run.executed, c.execute_fault == EFI_SUCCESS ? asked : Lines{});
    EXPECT_EQ(Notes(run.console), c.notes);
    if (c.verbose) {
      // The note, when there is one, follows the decision's lines.
      ASSERT_FALSE(run.console.empty());
      if (!c.notes.empty()) {
        EXPECT_EQ(run.console.back(), c.notes.back());
      }
    } else {
      EXPECT_EQ(run.console, Lines{});
    }
  }
}

TEST(UpdateScriptRun, PlainRunMakesTheSameCallsWhateverBecameOfTheScript) {
  const ScriptRunCase present = {"present", sim::ShellKind::Uefi2, false, "2", {OLD, NEW},
                                 EFI_SUCCESS, {}};
  const ScriptRunCase missing = {"missing", sim::ShellKind::Uefi2, false, "2", {}, EFI_SUCCESS, {}};
  ScriptRunResult with = RunKit(present);
  ScriptRunResult without = RunKit(missing);
  // UpdateConfig.ini is the plain run's only open by name.
  EXPECT_EQ(with.opens, 1u);
  EXPECT_EQ(without.opens, 1u);
  EXPECT_EQ(with.executed, without.executed);
  EXPECT_EQ(with.console, without.console);
  // -v looks for the script once more, and only then.
  ScriptRunCase verbose = present;
  verbose.verbose = true;
  EXPECT_EQ(RunKit(verbose).opens, 2u);
}

TEST(UpdateScriptRun, DecideOnlyLooksForNoScript) {
  sim::Options options;
  options.args.push_back(u"-n");
  sim::Firmware fw(options);
  SmbiosTableBuilder b;
  b.AddBios(0, "1.26");
  fw.PublishSmbios2(b.Bytes(), 1);
  fw.AddFile("UpdateConfig.ini", "Version=2\r\n");
  fw.ResetCounts();
  EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main), EFI_SUCCESS);
  EXPECT_TRUE(fw.Executed().empty());
  Lines console;
  for (const std::u16string &line : fw.ConsoleLines()) console.push_back(Narrow(line));
  EXPECT_EQ(Notes(console), Lines{});
  EXPECT_FALSE(console.empty());
  EXPECT_EQ(fw.Count(sim::Call::FileOpen), 1u);
}

}  // namespace
