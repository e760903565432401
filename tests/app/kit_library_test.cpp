// -kits on the simulated firmware, under both shells: which kit a machine
// chooses from a library, the folder its script runs in, and the line and
// status of every case where no kit can be chosen, the library's bounds
// and damaged listings included.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/kit_choice.h"
#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "sim/run.h"
#include "support/app_run.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;
using Lines = std::vector<std::string>;

struct File {
  std::string name;
  std::string bytes;
};

struct KitRun : testsupport::AppRun {
  std::string directory;  // the shell's current directory afterwards
};

std::string Utf8(const std::u16string &text) { return sim::TextToUtf8(text); }

// A machine: BIOS version "1.26" named by the BIOS Version field, and a
// System Information structure with the product (none when empty).
std::vector<uint8_t> Machine(const std::string &product, uint16_t *count) {
  SmbiosTableBuilder b;
  b.Add(0, 0, {"Acme", "1.26", "01/02/2026"}, 0x18);
  b.SetField(0, 5, 2);
  if (!product.empty()) {
    b.Add(1, 1, {"Acme", product}, 8);
    b.SetField(1, 5, 2);
  }
  b.Add(127, 2, {});
  *count = static_cast<uint16_t>(b.Count());
  return b.Bytes();
}

std::string Kit(const std::string &products, const std::string &version) {
  return "ProductName=" + products + "\r\nVersion=" + version + "\r\n";
}

// The example library: three models, one of them by prefix; the scripts
// tell the kits apart by the version each configures.
std::vector<File> With(std::vector<File> files, const File &more) {
  files.push_back(more);
  return files;
}

std::vector<File> Library() {
  return {
      {"kits/model7-tower/UpdateConfig.ini", Kit("Model7 Tower", "2")},
      {"kits/model7-tower/UpdateHWOld.nsh", "flash model7"},
      {"kits/servers/bx/UpdateConfig.ini", Kit("BX-2*|BX-3*", "1.0")},
      {"kits/laptops/l14/UpdateConfig.ini", Kit("20L5*|20L6*", "1.26")},
      {"kits/README.txt", "not a kit"},
  };
}

KitRun RunKits(sim::ShellKind shell, const std::string &product, const std::vector<File> &files,
            const Lines &args = {"-kits"},
            const std::function<void(sim::Firmware &)> &prepare = nullptr) {
  sim::Options options;
  options.shell = shell;
  for (const std::string &arg : args) options.args.push_back(std::u16string(arg.begin(), arg.end()));
  sim::Firmware fw(options);
  uint16_t count = 0;
  std::vector<uint8_t> table = Machine(product, &count);
  fw.PublishSmbios2(table, count);
  for (const File &file : files) fw.AddFile(file.name, file.bytes);
  if (prepare) prepare(fw);
  KitRun run;
  static_cast<testsupport::AppRun &>(run) = testsupport::RunApp(fw);
  run.directory = Utf8(fw.CurrentDirectory());
  EXPECT_EQ(sim::LeakReport(fw), "");
  return run;
}

const sim::ShellKind SHELLS[] = {sim::ShellKind::Uefi2, sim::ShellKind::Legacy};

const char *ShellName(sim::ShellKind shell) {
  return shell == sim::ShellKind::Uefi2 ? "UEFI Shell 2.0" : "EFI 1.x shell";
}

// The EFI 1.x shell changes directory through its own "cd" command, which
// the run shows as an executed line before the script.
Lines Scripts(sim::ShellKind shell, const std::string &kit, const std::string &script) {
  Lines lines;
  if (shell == sim::ShellKind::Legacy) lines.push_back(": cd \"" + kit + "\"");
  lines.push_back(kit + ": " + script);
  return lines;
}

TEST(KitLibrary, EachMachineRunsItsOwnKitsScriptFromTheKitsFolder) {
  const struct {
    std::string product;
    std::string kit;
    std::string script;
  } cases[] = {
      {"Model7 Tower", "kits\\model7-tower", "UpdateHWOld.nsh"},  // 1.26 below 2
      {"Model7 Tower  ", "kits\\model7-tower", "UpdateHWOld.nsh"},  // trailing blanks
      {"BX-2100", "kits\\servers\\bx", "UpdateHWNew.nsh"},          // 1.26 above 1.0
      {"BX-3", "kits\\servers\\bx", "UpdateHWNew.nsh"},
      {"20L6S0CD00", "kits\\laptops\\l14", "UpdateHWNew.nsh"},       // 1.26 same
  };
  for (sim::ShellKind shell : SHELLS) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(ShellName(shell)) + ", " + c.product);
      KitRun run = RunKits(shell, c.product, Library());
      EXPECT_EQ(run.status, EFI_SUCCESS);
      EXPECT_EQ(run.scripts, Scripts(shell, c.kit, c.script));
      EXPECT_EQ(run.console, Lines{});
      EXPECT_EQ(run.directory, c.kit);
    }
  }
}

TEST(KitLibrary, VerboseNamesTheKitThenRunsAsWithProduct) {
  for (sim::ShellKind shell : SHELLS) {
    SCOPED_TRACE(ShellName(shell));
    KitRun run = RunKits(shell, "BX-2100", Library(), {"-n", "-KITS", "-segments"});
    EXPECT_EQ(run.status, EFI_SUCCESS);
    Lines expected = {
        "SMBIOS 2.x entry point.",
        "Kit kits\\servers\\bx: ProductName= \"BX-2*|BX-3*\" serves product \"BX-2100\".",
        "Product \"BX-2100\" matches ProductName=.",
        "Installed \"1.26\", configured \"1.0\", segment rule: newer -> UpdateHWNew.nsh (not run)",
    };
    EXPECT_EQ(run.console, expected);
    // -n: no script; the folder is entered all the same.
    Lines scripts;
    if (shell == sim::ShellKind::Legacy) scripts.push_back(": cd \"kits\\servers\\bx\"");
    EXPECT_EQ(run.scripts, scripts);
  }
}

TEST(KitLibrary, NoKitChosenRunsNoScriptAndLeavesTheDirectory) {
  std::vector<File> overlapping = Library();
  overlapping.push_back({"kits/bx-old/UpdateConfig.ini", Kit("BX-2100", "1")});
  std::vector<File> kit_in_a_kit = Library();
  // Inside a kit is not searched: this would otherwise be a second kit.
  kit_in_a_kit.push_back({"kits/servers/bx/old/UpdateConfig.ini", Kit("BX-2*", "0")});
  std::vector<File> too_deep = {{"kits/a/b/c/d/e/UpdateConfig.ini", Kit("Model7", "1")}};
  const struct {
    const char *name;
    std::string product;
    std::vector<File> files;
    std::string line;
  } cases[] = {
      {"unknown product", "Model9", Library(),
       "ERROR: no kit in kits serves product \"Model9\"."},
      {"two kits serve", "BX-2100", overlapping,
       "ERROR: several kits serve product \"BX-2100\": kits\\servers\\bx, kits\\bx-old."},
      {"no System Information", "", Library(),
       "ERROR: no product name in SMBIOS; no kit can be chosen."},
      {"no kits folder", "Model7", {{"UpdateConfig.ini", Kit("Model7", "1")}},
       "ERROR: no kit found in kits."},
      {"no kit in kits", "Model7", {{"kits/empty/notes.txt", "x"}}, "ERROR: no kit found in kits."},
      {"kits is a file", "Model7", {{"kits", "x"}}, "ERROR: kits cannot be read; no kit can be chosen."},
      {"deeper than four levels", "Model7", too_deep, "ERROR: no kit found in kits."},
  };
  for (sim::ShellKind shell : SHELLS) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(ShellName(shell)) + ", " + c.name);
      KitRun run = RunKits(shell, c.product, c.files);
      EXPECT_EQ(run.status, EFI_ABORTED);
      EXPECT_EQ(run.scripts, Lines{});
      EXPECT_EQ(run.console, Lines{c.line});
      EXPECT_EQ(run.directory, "");
    }
  }
  for (sim::ShellKind shell : SHELLS) {
    SCOPED_TRACE(ShellName(shell));
    KitRun run = RunKits(shell, "BX-2100", kit_in_a_kit);
    EXPECT_EQ(run.scripts, Scripts(shell, "kits\\servers\\bx", "UpdateHWNew.nsh"));
  }
}

TEST(KitLibrary, BoundsOfTheLibrary) {
  // 300 kits, a path of 255 characters, four levels, a name beyond the BMP
  // and one beyond ASCII: the right kit all the same.
  std::vector<File> big;
  for (int i = 0; i < 300; ++i) {
    big.push_back({"kits/kit" + std::to_string(i) + "/UpdateConfig.ini",
                   Kit("Model" + std::to_string(i), "1")});
  }
  // "kits\" and "\UpdateConfig.ini" around four names: 255 in all.
  std::string long_name(57, 'n');
  std::string last_name(59, 'n');
  std::vector<File> long_names = {
      {"kits/" + long_name + "/" + long_name + "/" + long_name + "/" + last_name +
           "/UpdateConfig.ini",
       Kit("Model7", "1")}};
  std::vector<File> beyond = {{"kits/Mod\xC3\xA8le \xF0\x9F\x96\xA5/UpdateConfig.ini",
                               Kit("Model7", "1")}};
  std::string deep_kit = "kits";
  for (int i = 0; i < 3; ++i) deep_kit += "\\" + long_name;
  deep_kit += "\\" + last_name;
  for (sim::ShellKind shell : SHELLS) {
    SCOPED_TRACE(ShellName(shell));
    KitRun run = RunKits(shell, "Model299", big);
    EXPECT_EQ(run.scripts, Scripts(shell, "kits\\kit299", "UpdateHWNew.nsh"));
    run = RunKits(shell, "Model7", long_names);
    EXPECT_EQ(run.status, EFI_SUCCESS);
    EXPECT_EQ(run.directory, deep_kit);
    EXPECT_EQ(run.console, Lines{});
    run = RunKits(shell, "Model7", beyond);
    EXPECT_EQ(run.status, EFI_SUCCESS);
    EXPECT_EQ(run.directory, "kits\\Mod\xC3\xA8le \xF0\x9F\x96\xA5");
  }
}

TEST(KitLibrary, DamagedAndEndlessListingsGetALineAndNoScript) {
  using Prepare = std::function<void(sim::Firmware &)>;
  const struct {
    const char *name;
    std::vector<File> files;
    Prepare prepare;
    std::string line;
  } cases[] = {
      {"endless listing", Library(),
       [](sim::Firmware &fw) { fw.DamageFolder("kits/servers", sim::FolderDamage::EndlessListing); },
       "ERROR: kits\\servers takes the library beyond 4096 folders or 65536 entries; no kit can "
       "be chosen."},
      {"endless listing of the library itself", Library(),
       [](sim::Firmware &fw) { fw.DamageFolder("kits", sim::FolderDamage::EndlessListing); },
       "ERROR: kits takes the library beyond 4096 folders or 65536 entries; no kit can be "
       "chosen."},
      {"name not UTF-16", Library(),
       [](sim::Firmware &fw) { fw.DamageFolder("kits/laptops", sim::FolderDamage::NameNotUtf16); },
       "ERROR: kits\\laptops holds an unprintable folder name; no kit can be chosen."},
      {"name cut by its record", Library(),
       [](sim::Firmware &fw) { fw.DamageFolder("kits", sim::FolderDamage::NameWithoutEnd); },
       "ERROR: kits cannot be read; no kit can be chosen."},
      {"name of 256 characters", {{"kits/" + std::string(256, 'x') + "/UpdateConfig.ini", Kit("M", "1")}},
       nullptr, "ERROR: kits holds a name longer than 255 characters; no kit can be chosen."},
      // Firmware opens no longer path: the kit would be lost on a machine.
      {"path of 256 characters beside a good kit",
       With(Library(), {"kits/" + std::string(234, 'x') + "/UpdateConfig.ini", Kit("M", "1")}),
       nullptr, "ERROR: kits\\" + std::string(234, 'x') +
           " makes a path longer than 255 characters; no kit can be chosen."},
      {"folder too long to search, no kit in it",
       With(Library(), {"kits/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
                            std::string(60, 'c') + "/k/UpdateConfig.ini", Kit("M", "1")}),
       nullptr,
       // Cut at the console's 320 units, the line end kept.
       ("ERROR: kits\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\" +
        std::string(60, 'c') + " makes a path longer than 255 characters; no kit can be chosen.")
           .substr(0, 318)},
      {"leading blank", With(Library(), {"kits/ spare/UpdateConfig.ini", Kit("M", "1")}), nullptr,
       "ERROR: kits\\ spare begins or ends with a blank; no kit can be chosen."},
      {"trailing blank, no kit in it", With(Library(), {"kits/old /notes.txt", "x"}), nullptr,
       "ERROR: kits\\old  begins or ends with a blank; no kit can be chosen."},
      {"UpdateConfig.ini that is a folder",
       With(Library(), {"kits/spare/UpdateConfig.ini/notes.txt", "x"}), nullptr,
       "ERROR: kits\\spare holds a folder named UpdateConfig.ini; no kit can be chosen."},
      {"listing that fails", Library(),
       [](sim::Firmware &fw) { fw.FailNth(sim::Call::FileRead, 1); },
       "ERROR: kits cannot be read; no kit can be chosen."},
      // The kits folder opens (open 1); the first kit's UpdateConfig.ini
      // does not, and might have been this machine's.
      {"kit that cannot be read", Library(),
       [](sim::Firmware &fw) { fw.FailNth(sim::Call::FileOpen, 2); },
       "ERROR: kits\\model7-tower has an UpdateConfig.ini that cannot be read; no kit can be "
       "chosen."},
  };
  for (sim::ShellKind shell : SHELLS) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(ShellName(shell)) + ", " + c.name);
      KitRun run = RunKits(shell, "Model7 Tower", c.files, {"-kits"}, c.prepare);
      EXPECT_EQ(run.status, EFI_ABORTED);
      EXPECT_EQ(run.scripts, Lines{});
      EXPECT_EQ(run.console, Lines{c.line});
      EXPECT_EQ(run.directory, "");
    }
  }
}

TEST(KitLibrary, AShellThatCannotChangeDirectoryRunsNoScript) {
  // UEFI Shell 2.0: SetCurDir fails; EFI 1.x: its "cd" fails.
  const struct {
    sim::ShellKind shell;
    sim::Call call;
  } cases[] = {{sim::ShellKind::Uefi2, sim::Call::CurDir},
               {sim::ShellKind::Legacy, sim::Call::LegacyExecute}};
  for (const auto &c : cases) {
    SCOPED_TRACE(ShellName(c.shell));
    KitRun run = RunKits(c.shell, "Model7 Tower", Library(), {"-kits"},
                      [&](sim::Firmware &fw) { fw.FailAll(c.call); });
    EXPECT_EQ(run.status, EFI_ABORTED);
    EXPECT_EQ(run.console,
              Lines{"ERROR: kits\\model7-tower cannot be entered; no kit can be chosen."});
    EXPECT_EQ(run.directory, "");
  }
}

TEST(KitChoice, OutcomeOfTheTally) {
  const struct {
    std::vector<std::string> kits;  // each kit's ProductName= value, or HardwareIds= after '#'
    bool has_product;
    KitOutcome outcome;
  } cases[] = {
      {{"Model7", "BX-2*"}, true, KitOutcome::Chosen},
      {{"Model7", "Model7|BX-2*"}, true, KitOutcome::SeveralServe},
      {{"BX-2*"}, true, KitOutcome::NoKitServes},
      {{}, true, KitOutcome::NoKitFound},
      {{"Model7"}, false, KitOutcome::NoProduct},
      {{"*", ""}, true, KitOutcome::NoKitServes},  // a lone '*' takes no model
      // A malformed list refuses the choice even beside a kit that serves.
      {{"Model7", "#not-an-id"}, true, KitOutcome::Malformed},
  };
  for (const auto &c : cases) {
    KitTally tally = {0, 0, 0};
    unsigned serving = 0;
    for (const std::string &key : c.kits) {
      bool ids = !key.empty() && key[0] == '#';
      ModelVerdict verdict = CheckModel(ids ? nullptr : key.c_str(), ids ? key.c_str() + 1 : nullptr,
                                        "Model7", nullptr);
      serving += TallyKit(&tally, verdict.Match);
    }
    EXPECT_EQ(tally.Kits, c.kits.size());
    EXPECT_EQ(tally.Serving, serving);
    EXPECT_EQ(DecideKit(&tally, c.has_product), c.outcome);
  }
}

}  // namespace
