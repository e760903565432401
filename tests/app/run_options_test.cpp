// Whole runs with the image's options on the simulated firmware: what each
// option prints, which script runs, and the status the shell sees.
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

const std::string OLD = "UpdateHWOld.nsh";
const std::string NEW = "UpdateHWNew.nsh";

struct Machine {
  std::vector<uint8_t> table;
  uint16_t count = 0;
  bool smbios2 = true;
  bool smbios3 = false;
};

struct Outcome {
  EFI_STATUS status;
  Lines scripts;
  Lines console;  // without the CR LF
};

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

Outcome RunMachine(const Machine &machine, const std::string &config, const Lines &args) {
  sim::Options options;
  for (const std::string &arg : args) options.args.push_back(std::u16string(arg.begin(), arg.end()));
  sim::Firmware fw(options);
  if (machine.smbios2) fw.PublishSmbios2(machine.table, machine.count);
  if (machine.smbios3) fw.PublishSmbios3(machine.table);
  fw.AddFile("UpdateConfig.ini", config);
  // A kit holds both scripts; without them -v notes that the shell could not run one.
  fw.AddFile(OLD, "echo old\r\n");
  fw.AddFile(NEW, "echo new\r\n");
  Outcome outcome;
  outcome.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  for (const std::u16string &line : fw.Executed()) outcome.scripts.push_back(Narrow(line));
  for (const std::u16string &line : fw.ConsoleLines()) {
    std::string text = Narrow(line);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    outcome.console.push_back(text);
  }
  EXPECT_EQ(sim::LeakReport(fw), "");
  return outcome;
}

// A BIOS Information structure whose BIOS Version field (offset 0x05) names
// `field`, with the given strings.
SmbiosTableBuilder &AddBiosNaming(SmbiosTableBuilder &b, uint16_t handle, uint8_t field,
                                  std::initializer_list<std::string> strings) {
  b.Add(0, handle, strings, 0x18);
  return b.SetField(b.Count() - 1, 5, field);
}

// A System Information structure whose Product Name (offset 0x05) is string 2.
SmbiosTableBuilder &AddSystem(SmbiosTableBuilder &b, uint16_t handle, const std::string &product) {
  b.Add(1, handle, {"Acme", product}, 8);
  return b.SetField(b.Count() - 1, 5, 2);
}

Machine Desktop(const std::string &version, const std::string &product = "Model7") {
  SmbiosTableBuilder b;
  AddBiosNaming(b, 0, 2, {"Acme", version, "01/02/2026"});
  AddSystem(b, 1, product);
  b.Add(127, 2, {});
  return Machine{b.Bytes(), 3};
}

std::string Config(const std::string &version, const std::string &product = "Model7") {
  return "ProductName=" + product + "\r\nVersion=" + version + "\r\n";
}

TEST(RunOptions, WithoutOptionsTheRunIsThePlainIntegerDecision) {
  // Unknown arguments, the options' look-alikes among them, change nothing
  // in the decision; each look-alike (a leading '-') gets a note.
  const struct {
    Lines args;
    Lines console;
  } cases[] = {
      {{"BiosUpdateSelect.efi"}, {}},
      {{"BiosUpdateSelect.efi", "--v", "-segment", "foo", "-nv", "-PRODCUT"},
       {"Note: \"--v\" is not an option; it is ignored.",
        "Note: \"-segment\" is not an option; it is ignored.",
        "Note: \"-nv\" is not an option; it is ignored.",
        "Note: \"-PRODCUT\" is not an option; it is ignored."}},
      // A lone dash is no option either.
      {{"BiosUpdateSelect.efi", "-"}, {"Note: \"-\" is not an option; it is ignored."}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.back());
    Outcome run = RunMachine(Desktop("A05"), Config("A07"), c.args);
    EXPECT_EQ(run.status, EFI_SUCCESS);
    EXPECT_EQ(run.scripts, Lines{NEW});  // "A05" and "A07" both count as 0
    EXPECT_EQ(run.console, c.console);
  }
}

TEST(RunOptions, SegmentsDecideOnRealVersionStrings) {
  struct Case {
    std::string installed;
    std::string configured;
    Lines scripts;
    EFI_STATUS status;
    Lines console;
  };
  const Case cases[] = {
      {"A05", "A07", {OLD}, EFI_SUCCESS, {}},
      {"A05", "A05", {NEW}, EFI_SUCCESS, {}},
      {"1.22.1", "1.3.4", {NEW}, EFI_SUCCESS, {}},
      // The configured text is read whole, past the 9 bytes of the integer rule.
      {"7LET56WW (1.26 )", "7LET60WW (1.30 )", {OLD}, EFI_SUCCESS, {}},
      {"A05",
       "1.2.0",
       {},
       EFI_ABORTED,
       {"ERROR: installed \"A05\" and configured \"1.2.0\" cannot be compared."}},
      {"7LET56WW (1.26 )",
       "8AET46WW (1.26 )",
       {},
       EFI_ABORTED,
       {"ERROR: installed \"7LET56WW (1.26 )\" and configured \"8AET46WW (1.26 )\" cannot be "
        "compared."}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.installed + " / " + c.configured);
    Outcome run = RunMachine(Desktop(c.installed), Config(c.configured), {"x", "-segments"});
    EXPECT_EQ(run.scripts, c.scripts);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.console, c.console);
  }
}

TEST(RunOptions, SegmentsReadTheStringTheBiosVersionFieldNames) {
  // A server keeps blanks in string 2 and its version in string 3.
  SmbiosTableBuilder b;
  AddBiosNaming(b, 0, 3, {"Maker", "       ", "A05", "01/02/2020"});
  Machine server{b.Bytes(), 1};
  Outcome run = RunMachine(server, Config("A07"), {"x", "-segments", "-v"});
  EXPECT_EQ(run.scripts, Lines{OLD});
  EXPECT_EQ(run.console, (Lines{"SMBIOS 2.x entry point.",
                                "Installed \"A05\", configured \"A07\", segment rule: older -> "
                                "UpdateHWOld.nsh"}));

  // The integer rule reads string 2 all the same, and -v says so.
  run = RunMachine(server, Config("A07"), {"x", "-v"});
  EXPECT_EQ(run.scripts, Lines{NEW});
  EXPECT_EQ(run.console,
            (Lines{"SMBIOS 2.x entry point.",
                   "Installed \"       \" (0), configured \"A07\" (0), integer rule: same -> "
                   "UpdateHWNew.nsh",
                   "Note: \"A07\" counts as 0.",
                   "Note: the BIOS Version field names string 3, not string 2."}));

  // A field of 0, past the last string, or a structure too short to hold
  // it: no version, no script.
  SmbiosTableBuilder zero, past, short_area;
  AddBiosNaming(zero, 0, 0, {"Maker", "A05"});
  AddBiosNaming(past, 0, 3, {"Maker", "A05"});
  short_area.Add(0, 0, {"Maker", "A05"}, 5);
  for (const SmbiosTableBuilder *table : {&zero, &past, &short_area}) {
    Outcome none = RunMachine(Machine{table->Bytes(), 1}, Config("A07"), {"x", "-segments"});
    EXPECT_EQ(none.scripts, Lines{});
    EXPECT_EQ(none.status, EFI_ABORTED);
    EXPECT_EQ(none.console, Lines{"ERROR: BIOS version not found."});
  }
}

TEST(RunOptions, VerboseSaysWhatTheIntegerRuleReads) {
  struct Case {
    std::string installed;
    std::string configured;
    Lines console;
  };
  const Case cases[] = {
      {"1.26", "2",
       {"Installed \"1.26\" (1), configured \"2\" (2), integer rule: older -> UpdateHWOld.nsh",
        "Note: only the leading number of \"1.26\" counts."}},
      {"10", "9", {"Installed \"10\" (10), configured \"9\" (9), integer rule: newer -> "
                   "UpdateHWNew.nsh"}},
      {"7LET56WW (1.26 )", "-12",
       {"Installed \"7LET56WW (1.26 )\" (7), configured \"-12\" (-12), integer rule: newer -> "
        "UpdateHWNew.nsh",
        "Note: only the leading number of \"7LET56WW (1.26 )\" counts."}},
      // Control bytes and long texts are quoted safely.
      {"\x1b[2J" + std::string(70, '9'), "P61",
       {"Installed \"?[2J" + std::string(60, '9') + "...\" (0), configured \"P61\" (0), integer "
        "rule: same -> UpdateHWNew.nsh",
        "Note: \"?[2J" + std::string(60, '9') + "...\" counts as 0.",
        "Note: \"P61\" counts as 0."}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.installed);
    Outcome run = RunMachine(Desktop(c.installed), Config(c.configured), {"x", "-v"});
    Lines expected = {"SMBIOS 2.x entry point."};
    expected.insert(expected.end(), c.console.begin(), c.console.end());
    EXPECT_EQ(run.console, expected);
    EXPECT_EQ(run.scripts.size(), 1u);
    EXPECT_EQ(run.status, EFI_SUCCESS);
  }
}

TEST(RunOptions, DecideOnlyRunsNoScriptAndEndsAsTheRealRunWould) {
  Outcome run = RunMachine(Desktop("1.26"), Config("2"), {"x", "-n"});
  EXPECT_EQ(run.scripts, Lines{});
  EXPECT_EQ(run.status, EFI_SUCCESS);
  EXPECT_EQ(run.console,
            (Lines{"SMBIOS 2.x entry point.",
                   "Installed \"1.26\" (1), configured \"2\" (2), integer rule: older -> "
                   "UpdateHWOld.nsh (not run)",
                   "Note: only the leading number of \"1.26\" counts."}));

  run = RunMachine(Desktop("A05"), Config("1.2.0"), {"x", "-n", "-segments"});
  EXPECT_EQ(run.scripts, Lines{});
  EXPECT_EQ(run.status, EFI_ABORTED);

  // Two BIOS Information structures: two decisions, still no script.
  SmbiosTableBuilder b;
  b.AddBios(0, "3.1").AddBios(1, "1.9");
  run = RunMachine(Machine{b.Bytes(), 2}, Config("2"), {"x", "-N"});
  EXPECT_EQ(run.scripts, Lines{});
  EXPECT_EQ(run.status, EFI_SUCCESS);
  // The entry point, then per structure its decision, the note on the
  // leading number and one on the field (the builder fills offset 5 with 5).
  ASSERT_EQ(run.console.size(), 7u);
  EXPECT_EQ(run.console[1], "Installed \"3.1\" (3), configured \"2\" (2), integer rule: newer -> "
                            "UpdateHWNew.nsh (not run)");
  EXPECT_EQ(run.console[3], "Note: the BIOS Version field names string 5, not string 2.");
}

TEST(RunOptions, ProductMustMatchBeforeAnyScriptRuns) {
  struct Case {
    std::string smbios_product;
    std::string config_product;
    bool runs;
    std::string message;
  };
  const Case cases[] = {
      {"Model7", "Model7", true, ""},
      {"Model7   ", "Model7", true, ""},  // real product names can end in blanks
      {"Model7", "Model7 \t", true, ""},
      {"Model8", "Model7", false, "ERROR: product \"Model8\" is not ProductName= \"Model7\"."},
      {"model7", "Model7", false, "ERROR: product \"model7\" is not ProductName= \"Model7\"."},
      {" Model7", "Model7", false, "ERROR: product \" Model7\" is not ProductName= \"Model7\"."},
      // Read whole, past the 9 bytes of the plain value.
      {"ThinkStation P920", "ThinkStation P920", true, ""},
      {"ThinkStation P920", "ThinkStation P", false,
       "ERROR: product \"ThinkStation P920\" is not ProductName= \"ThinkStation P\"."},
      {"   ", "", false, "ERROR: product \"   \" is not ProductName= \"\"."},
      // A list of names and machine-type prefixes; the message quotes the whole value.
      {"20L6S0CD00", "20L5*|20L6*", true, ""},
      {"20L7S0CD00", "20L5*|20L6*", false,
       "ERROR: product \"20L7S0CD00\" is not ProductName= \"20L5*|20L6*\"."},
      {"Model7", "Model6|Model7  |Model8", true, ""},
      {"*", "*", false, "ERROR: product \"*\" is not ProductName= \"*\"."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.smbios_product + " / " + c.config_product);
    Outcome run = RunMachine(Desktop("1.26", c.smbios_product), Config("2", c.config_product),
                      {"x", "-product"});
    EXPECT_EQ(run.scripts, c.runs ? Lines{OLD} : Lines{});
    EXPECT_EQ(run.status, c.runs ? EFI_SUCCESS : EFI_ABORTED);
    EXPECT_EQ(run.console, c.runs ? Lines{} : Lines{c.message});
  }
}

TEST(RunOptions, ProductChecksTheFirstSystemInformationBeforeTheWalk) {
  // The System Information structure comes after the BIOS Information one:
  // still no script runs on a mismatch.
  SmbiosTableBuilder b;
  b.AddBios(0, "1.26");
  AddSystem(b, 1, "Model8");
  AddSystem(b, 2, "Model7");
  Outcome run = RunMachine(Machine{b.Bytes(), 3}, Config("2"), {"x", "-product", "-v"});
  EXPECT_EQ(run.scripts, Lines{});
  EXPECT_EQ(run.console, (Lines{"SMBIOS 2.x entry point.",
                                "ERROR: product \"Model8\" is not ProductName= \"Model7\"."}));

  // No System Information structure at all (an old virtual machine's table).
  SmbiosTableBuilder bios_only;
  bios_only.AddBios(0, "1.26");
  run = RunMachine(Machine{bios_only.Bytes(), 1}, Config("2"), {"x", "-product"});
  EXPECT_EQ(run.scripts, Lines{});
  EXPECT_EQ(run.status, EFI_ABORTED);
  EXPECT_EQ(run.console, Lines{"ERROR: no product name in SMBIOS; ProductName= \"Model7\"."});

  // A matching product with -v says so before the decision.
  run = RunMachine(Desktop("1.26"), Config("2"), {"x", "-product", "-v"});
  ASSERT_GE(run.console.size(), 2u);
  EXPECT_EQ(run.console[1], "Product \"Model7\" matches ProductName=.");
  EXPECT_EQ(run.scripts, Lines{OLD});
}

TEST(RunOptions, Smbios3UsesTheNewerEntryPointWhenPublished) {
  Machine both = Desktop("1.26");
  both.smbios3 = true;
  Outcome run = RunMachine(both, Config("2"), {"x", "-smbios3", "-v"});
  EXPECT_EQ(run.console.at(0), "SMBIOS 3.x entry point.");
  EXPECT_EQ(run.scripts, Lines{OLD});
  // Without the option the same firmware is read through the 2.x one.
  EXPECT_EQ(RunMachine(both, Config("2"), {"x", "-v"}).console.at(0), "SMBIOS 2.x entry point.");

  Machine only3 = Desktop("2.8.2");
  only3.smbios2 = false;
  only3.smbios3 = true;
  run = RunMachine(only3, Config("2.10.0"), {"x"});
  EXPECT_EQ(run.console, Lines{"ERROR: SMBIOS table not found."});
  EXPECT_EQ(run.status, EFI_ABORTED);
  run = RunMachine(only3, Config("2.10.0"), {"x", "-smbios3", "-segments"});
  EXPECT_EQ(run.scripts, Lines{OLD});
  EXPECT_EQ(run.status, EFI_SUCCESS);

  // Only the 2.x one published: -smbios3 falls back to it.
  run = RunMachine(Desktop("1.26"), Config("2"), {"x", "-smbios3", "-v"});
  EXPECT_EQ(run.console.at(0), "SMBIOS 2.x entry point.");
  EXPECT_EQ(run.scripts, Lines{OLD});
}

TEST(RunOptions, Smbios3WalkEndsAtEndOfTableOrTheMaximumSize) {
  // Structures after the End-of-Table structure are never visited, though
  // they lie inside the declared maximum size.
  SmbiosTableBuilder b;
  b.AddBios(0, "1.26").Add(127, 1, {}).AddBios(2, "0.1");
  Machine only3{b.Bytes(), 0, false, true};
  Outcome run = RunMachine(only3, Config("2"), {"x", "-smbios3"});
  EXPECT_EQ(run.scripts, Lines{OLD});

  // No End-of-Table structure: the maximum size bounds the walk, and a
  // structure cut by it is where the table ends.
  SmbiosTableBuilder cut;
  cut.AddBios(0, "1.26").AddBios(1, "3");
  std::vector<uint8_t> bytes = cut.Bytes();
  bytes.resize(bytes.size() - 3);
  run = RunMachine(Machine{bytes, 0, false, true}, Config("2"), {"x", "-smbios3"});
  EXPECT_EQ(run.scripts, Lines{OLD});

  // A repeated handle ends it too.
  SmbiosTableBuilder repeated;
  repeated.AddBios(0xDA00, "1.26").Add(0xDA, 0xDA00, {"x"}).AddBios(7, "3");
  run = RunMachine(Machine{repeated.Bytes(), 0, false, true}, Config("2"), {"x", "-smbios3"});
  EXPECT_EQ(run.scripts, Lines{OLD});
}

}  // namespace
