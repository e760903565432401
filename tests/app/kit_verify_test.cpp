// -verify on the simulated firmware: a kit whose files match its SHA256SUMS
// runs; every kind of damage is refused with its line and no script, a
// read failing part-way through included; with -kits each kit's
// UpdateConfig.ini is checked while choosing and the chosen kit whole;
// without -verify nothing of it is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/main.h"
#include "app/sha256.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "sim/run.h"
#include "support/app_run.h"
#include "support/smbios_table_builder.h"

namespace {

using Files = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

std::string Sha256Of(const std::string &bytes) {
  Sha256 hash;
  Sha256Begin(&hash);
  Sha256Add(&hash, bytes.data(), bytes.size());
  char hex[SHA256_HEX_SIZE];
  Sha256End(&hash, hex);
  return hex;
}

// The kit's files, and its SHA256SUMS as make-kit-image writes it.
Files Kit(const std::string &folder, const std::string &product) {
  std::string rom(200 * 1024, '\0');
  for (size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<char>(i * 7 + 3);
  Files kit = {{"UpdateConfig.ini", "ProductName=" + product + "\r\nVersion=2\r\n"},
               {"UpdateHWNew.nsh", "flash new"},
               {"UpdateHWOld.nsh", "flash old"},
               {"bios/x.rom", rom}};
  std::string sums;
  for (const auto &file : kit) sums += Sha256Of(file.second) + "  " + file.first + "\n";
  Files placed;
  for (const auto &file : kit) placed[folder + file.first] = file.second;
  placed[folder + "SHA256SUMS"] = sums;
  return placed;
}

struct VerifyRun : testsupport::AppRun {
  std::map<sim::Call, unsigned> calls;
  std::string log;
};

VerifyRun RunKit(const Files &files, const Lines &args, sim::Call fault = sim::Call::COUNT,
           unsigned nth = 0) {
  sim::Options options;
  options.writable = true;
  for (const std::string &arg : args) options.args.push_back(std::u16string(arg.begin(), arg.end()));
  sim::Firmware fw(options);
  testsupport::SmbiosTableBuilder b;
  b.Add(0, 0, {"Acme", "1", "01/02/2026"}, 0x18).SetField(0, 5, 2);
  b.Add(1, 1, {"Acme", "M7"}, 8).SetField(1, 5, 2);
  b.Add(127, 2, {});
  fw.PublishSmbios2(b.Bytes(), 3);
  for (const auto &file : files) fw.AddFile(file.first, file.second);
  if (nth != 0) fw.FailNth(fault, nth);
  VerifyRun run;
  static_cast<testsupport::AppRun &>(run) = testsupport::RunApp(fw);
  // The entry point -v names is not what these tests look at.
  run.console.erase(std::remove_if(run.console.begin(), run.console.end(),
                                   [](const std::string &line) { return line.rfind("SMBIOS ", 0) == 0; }),
                    run.console.end());
  for (sim::Call call : {sim::Call::FileOpen, sim::Call::FileRead}) run.calls[call] = fw.Count(call);
  fw.ReadFile("rollout.jsonl", &run.log);
  EXPECT_EQ(sim::LeakReport(fw), "");
  return run;
}

TEST(Verify, AKitIsRefusedForEachKindOfDamage) {
  const Files kit = Kit("", "M7");
  const std::string sums = kit.at("SHA256SUMS");
  const std::string id = Sha256Of(sums);
  struct Case {
    const char *name;
    std::function<void(Files *)> damage;
    Lines console;  // with -v
    // The record's message where it differs from the console's line: it
    // keeps characters up to U+00FF and shows any other as '?'.
    const char *message = nullptr;
  };
  const Case cases[] = {
      // A medium's root holds the application and startup.nsh: no notes.
      {"intact; a flash log is not noted", [](Files *f) { (*f)["bios/flash.log"] = "old run"; },
       {"Kit: 4 files match SHA256SUMS (kit " + id.substr(0, 4) + "..." + id.substr(62) + ").",
        "Installed \"1\" (1), configured \"2\" (2), integer rule: older -> UpdateHWOld.nsh"}},
      {"a byte flipped", [](Files *f) { (*f)["bios/x.rom"][70000] ^= 1; },
       {"ERROR: bios\\x.rom does not match SHA256SUMS."}},
      {"truncated", [](Files *f) { (*f)["bios/x.rom"].resize(65536); },
       {"ERROR: bios\\x.rom does not match SHA256SUMS."}},
      {"a listed file deleted", [](Files *f) { f->erase("bios/x.rom"); },
       {"ERROR: bios\\x.rom is listed in SHA256SUMS but cannot be read."}},
      {"a script edited", [](Files *f) { (*f)["UpdateHWOld.nsh"] += "\r\nflash other"; },
       {"ERROR: UpdateHWOld.nsh does not match SHA256SUMS."}},
      {"a script not listed", [&](Files *f) {
         size_t start = sums.rfind('\n', sums.find("UpdateHWNew")) + 1;
         (*f)["SHA256SUMS"].erase(start, sums.find('\n', start) + 1 - start);
       },
       {"ERROR: UpdateHWNew.nsh is not in SHA256SUMS."}},
      {"no SHA256SUMS", [](Files *f) { f->erase("SHA256SUMS"); },
       {"ERROR: the kit has no SHA256SUMS."}},
      {"a bad line", [](Files *f) { (*f)["SHA256SUMS"] += std::string(64, '0') + "  ../x\n"; },
       {"ERROR: SHA256SUMS line 5 cannot be read."}},
      // An overlong 'b' names no file: read loosely it would be bios/x.rom,
      // and the kit would pass on a line that names another file.
      {"a path that is not UTF-8", [&](Files *f) {
         std::string &list = (*f)["SHA256SUMS"];
         list.replace(list.find("bios/x.rom"), 1, "\xC1\xA2");
       },
       {"ERROR: \xEF\xBF\xBD\xEF\xBF\xBDios\\x.rom is listed in SHA256SUMS but cannot be read."},
       "ERROR: ??ios\\x.rom is listed in SHA256SUMS but cannot be read."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Files files = kit;
    c.damage(&files);
    VerifyRun run = RunKit(files, {"-verify", "-v", "-log", "rollout.jsonl"});
    EXPECT_EQ(run.console, c.console);
    bool intact = c.console.size() > 1;
    EXPECT_EQ(run.scripts, intact ? Lines{": UpdateHWOld.nsh"} : Lines{});
    EXPECT_EQ(run.status, intact ? EFI_SUCCESS : EFI_ABORTED);
    nlohmann::json record = nlohmann::json::parse(run.log);
    EXPECT_EQ(record["kit_sha256"], intact ? nlohmann::json(id) : nlohmann::json(nullptr));
    EXPECT_EQ(record["message"], intact       ? nlohmann::json(nullptr)
                                 : c.message ? nlohmann::json(c.message)
                                             : nlohmann::json(c.console[0]));
  }
}

TEST(Verify, NoScriptRunsWhicheverReadFails) {
  // The reads of an intact run; each failing in turn stops the script.
  const Files kit = Kit("", "M7");
  unsigned reads = RunKit(kit, {"-verify"}).calls[sim::Call::FileRead];
  ASSERT_GT(reads, 4u);  // the 200 KiB file takes several
  std::set<std::string> lines;
  for (unsigned nth = 1; nth <= reads; ++nth) {
    SCOPED_TRACE(nth);
    VerifyRun run = RunKit(kit, {"-verify"}, sim::Call::FileRead, nth);
    EXPECT_EQ(run.scripts, Lines{});
    ASSERT_EQ(run.console.size(), 1u);
    lines.insert(run.console[0]);
  }
  EXPECT_TRUE(lines.count("ERROR: bios\\x.rom is listed in SHA256SUMS but cannot be read."));
  EXPECT_TRUE(lines.count("ERROR: SHA256SUMS cannot be read."));
}

TEST(Verify, WithoutTheOptionNothingOfItIsRead) {
  Files damaged = Kit("", "M7");
  damaged["bios/x.rom"] = "another build";
  Files plain = damaged;
  plain.erase("SHA256SUMS");
  VerifyRun with_sums = RunKit(damaged, {});
  VerifyRun without = RunKit(plain, {});
  EXPECT_EQ(with_sums.scripts, Lines{": UpdateHWOld.nsh"});
  EXPECT_EQ(with_sums.calls, without.calls);
  EXPECT_EQ(with_sums.console, Lines{});
}

TEST(Verify, KitsChecksEveryKitsConfigurationAndTheChosenKitWhole) {
  Files library = Kit("kits/a/", "M7");
  Files other = Kit("kits/b/", "Other");
  library.insert(other.begin(), other.end());
  struct Case {
    const char *name;
    const char *file;  // damaged
    Lines console;
    Lines scripts;
  };
  const std::string id = Sha256Of(library["kits/a/SHA256SUMS"]);
  library["kits/a/flash.log"] = "an earlier run";
  const Case cases[] = {
      {"intact; a flash log noted", nullptr,
       {"Kit kits\\a: ProductName= \"M7\" serves product \"M7\".",
        "Note: kits\\a\\flash.log is not in SHA256SUMS.",
        "Kit kits\\a: 4 files match SHA256SUMS (kit " + id.substr(0, 4) + "..." + id.substr(62) +
            ")."},
       {"kits\\a: UpdateHWOld.nsh"}},
      // Another model's kit: its ProductName= cannot be trusted either.
      {"another kit's configuration", "kits/b/UpdateConfig.ini",
       {"ERROR: kits\\b\\UpdateConfig.ini does not match SHA256SUMS."}, {}},
      {"another kit's BIOS file", "kits/b/bios/x.rom",
       {"Kit kits\\a: ProductName= \"M7\" serves product \"M7\".",
        "Note: kits\\a\\flash.log is not in SHA256SUMS.",
        "Kit kits\\a: 4 files match SHA256SUMS (kit " + id.substr(0, 4) + "..." + id.substr(62) +
            ")."},
       {"kits\\a: UpdateHWOld.nsh"}},
      {"the chosen kit's BIOS file", "kits/a/bios/x.rom",
       {"Kit kits\\a: ProductName= \"M7\" serves product \"M7\".",
        "ERROR: kits\\a\\bios\\x.rom does not match SHA256SUMS."},
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Files files = library;
    if (c.file != nullptr) files[c.file] += "x";
    VerifyRun run = RunKit(files, {"-kits", "-verify", "-v"});
    Lines console(run.console.begin(),
                  run.console.begin() + std::min(run.console.size(), c.console.size()));
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(run.scripts, c.scripts);
  }
}

}  // namespace
