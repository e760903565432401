// Whole runs with hardware IDs on the simulated firmware: -hwids on a known
// machine and on one with missing structures, HardwareIds= under -product and
// -kits (the ID that chose, the refusals, a malformed entry), the record's
// new keys, and the plain run, which ignores the key.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "sim/run.h"
#include "support/app_run.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;
using Lines = std::vector<std::string>;

// A ThinkPad as its firmware publishes it, with blanks and zeros the IDs
// drop; `sku` and `board` vary it, and `full` false leaves out the Base
// Board and Enclosure structures and Family (an SMBIOS 2.3 System
// Information structure).
std::vector<uint8_t> ThinkPad(const std::string &sku = "LENOVO_MT_20HR_BU_Think_FM_ThinkPad X1 Carbon 5th",
                              const std::string &board = "20HRCTO1WW", bool full = true) {
  SmbiosTableBuilder b;
  b.Add(0, 0, {" LENOVO", "N1MET31W (1.16 )", "01/02/2026"}, 0x18);
  b.SetField(0, 4, 1).SetField(0, 5, 2).SetField(0, 8, 3).SetField(0, 0x14, 0x01).SetField(0, 0x15, 0x10);
  if (full) {
    b.Add(1, 1, {"LENOVO", "0020HRCTO1WW ", "SN-1", sku, "ThinkPad X1 Carbon 5th"}, 0x1B);
    b.SetField(1, 4, 1).SetField(1, 5, 2).SetField(1, 6, 0).SetField(1, 7, 3);
    b.SetField(1, 0x19, 4).SetField(1, 0x1A, 5);
    b.Add(2, 2, {"LENOVO", board}, 8);
    b.SetField(2, 4, 1).SetField(2, 5, 2);
    b.Add(3, 3, {"LENOVO"}, 9);
    b.SetField(3, 4, 1).SetField(3, 5, 0x0A);
  } else {
    b.Add(1, 1, {"LENOVO", "20HRCTO1WW"}, 0x19);
    b.SetField(1, 4, 1).SetField(1, 5, 2).SetField(1, 6, 0).SetField(1, 7, 0);
  }
  b.Add(127, 9, {});
  return b.Bytes();
}

const char SKU_ID[] = "3fb92698-0841-52a5-85c2-11f633e675d7";    // HardwareID-7
const char BOARD_ID[] = "0871e491-9dc1-5cf4-8c00-26dc49c10182";  // HardwareID-13

struct IdRun : testsupport::AppRun {
  std::string log;
};

IdRun RunImage(const std::vector<uint8_t> &table, const Lines &args,
             const std::vector<std::pair<std::string, std::string>> &files) {
  sim::Options options;
  options.writable = true;
  for (const std::string &arg : args) options.args.push_back(std::u16string(arg.begin(), arg.end()));
  sim::Firmware fw(options);
  fw.PublishSmbios2(table, 6);
  for (const auto &file : files) fw.AddFile(file.first, file.second);
  IdRun run;
  static_cast<testsupport::AppRun &>(run) = testsupport::RunApp(fw);
  // A relative -log FILE lands in the folder the run went on in.
  fw.ReadFile("rollout.jsonl", &run.log) || fw.ReadFile("kits/sku-a/rollout.jsonl", &run.log);
  EXPECT_EQ(sim::LeakReport(fw), "");
  return run;
}

TEST(HardwareIdRuns, HwidsPrintsTheFieldsAndTheIdsAndRunsNoScript) {
  IdRun run = RunImage(ThinkPad(), {"-hwids"}, {{"UpdateConfig.ini", "Version=9\r\n"}});
  EXPECT_EQ(run.status, EFI_SUCCESS);
  EXPECT_EQ(run.scripts, Lines{});
  ASSERT_EQ(run.console.size(), 26u);
  EXPECT_EQ(Lines(run.console.begin(), run.console.begin() + 11),
            (Lines{"Manufacturer: \"LENOVO\"", "Family: \"ThinkPad X1 Carbon 5th\"",
                   "ProductName: \"20HRCTO1WW\"",
                   "ProductSku: \"LENOVO_MT_20HR_BU_Think_FM_ThinkPad X1 Carbon 5th\"",
                   "BiosVendor: \"LENOVO\"", "BiosVersion: \"N1MET31W (1.16 )\"",
                   "BiosMajorRelease: \"01\"", "BiosMinorRelease: \"10\"",
                   "EnclosureKind: \"a\"", "BaseboardManufacturer: \"LENOVO\"",
                   "BaseboardProduct: \"20HRCTO1WW\""}));
  EXPECT_EQ(run.console[11],
            "HardwareID-0: {bf3eccb8-9bae-52d6-bf4f-e79a9f3a8136} <- Manufacturer&Family&"
            "ProductName&ProductSku&BiosVendor&BiosVersion&BiosMajorRelease&BiosMinorRelease");
  EXPECT_EQ(run.console[18], std::string("HardwareID-7: {") + SKU_ID + "} <- Manufacturer&ProductSku");
  EXPECT_EQ(run.console[25],
            "HardwareID-14: {6de5d951-d755-576b-bd09-c5cf66b27234} <- Manufacturer");

  // No Base Board, no Enclosure, no Family: their IDs are absent, the rest stand.
  run = RunImage(ThinkPad("", "", false), {"-hwids"}, {});
  EXPECT_EQ(run.status, EFI_SUCCESS);
  ASSERT_EQ(run.console.size(), 26u);
  EXPECT_EQ(run.console[1], "Family: absent");
  EXPECT_EQ(run.console[8], "EnclosureKind: absent");
  EXPECT_EQ(run.console[14], "HardwareID-3: absent <- Manufacturer&Family&ProductName&ProductSku&"
                             "BaseboardManufacturer&BaseboardProduct");
  EXPECT_EQ(run.console[20],
            "HardwareID-9: {9af258e4-5abc-55d8-978a-5140829ffba5} <- Manufacturer&ProductName");
}

TEST(HardwareIdRuns, ProductChecksEveryModelKeyTheKitHolds) {
  const std::string other = "00000000-0000-5000-8000-000000000000";
  const struct {
    std::string config;
    Lines console;
    bool runs;
  } cases[] = {
      {std::string("HardwareIds=") + other + ", {" + SKU_ID + "}\r\nVersion=9\r\n",
       {std::string("Kit .: HardwareIds= {") + SKU_ID +
            "} (HardwareID-7: Manufacturer&ProductSku) serves this machine.",
        "Installed \"N1MET31W (1.16 )\" (0), configured \"9\" (9), integer rule: older -> "
        "UpdateHWOld.nsh",
        "Note: \"N1MET31W (1.16 )\" counts as 0."},
       true},
      {"ProductName=0020HR*\r\nHardwareIds=" + other + "\r\nVersion=9\r\n",
       {"ERROR: manufacturer \"LENOVO\", product \"0020HRCTO1WW \": no ID in HardwareIds= \"" +
        other + "\"."},
       false},
      {std::string("ProductName=Model7\r\nHardwareIds=") + SKU_ID + "\r\nVersion=9\r\n",
       {"ERROR: product \"0020HRCTO1WW \" is not ProductName= \"Model7\"."},
       false},
      {std::string("HardwareIds=") + SKU_ID + "|LENOVO_MT_20HR\r\nVersion=9\r\n",
       {"ERROR: UpdateConfig.ini: HardwareIds= entry \"LENOVO_MT_20HR\" is not a hardware ID."},
       false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.config);
    IdRun run = RunImage(ThinkPad(), {"-product", "-v"},
                       {{"UpdateConfig.ini", c.config}, {"UpdateHWOld.nsh", "echo"}});
    Lines console(run.console.begin() + 1, run.console.end());  // after the entry point line
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(run.scripts, c.runs ? Lines{": UpdateHWOld.nsh"} : Lines{});
    EXPECT_EQ(run.status, c.runs ? EFI_SUCCESS : EFI_ABORTED);
  }
  // Without -product the key plays no part, however it is written.
  IdRun run = RunImage(ThinkPad(), {}, {{"UpdateConfig.ini", "HardwareIds=LENOVO\r\nVersion=9\r\n"}});
  EXPECT_EQ(run.scripts, Lines{": UpdateHWOld.nsh"});
  EXPECT_EQ(run.console, Lines{});
}

std::vector<std::pair<std::string, std::string>> SkuLibrary(const std::string &extra_kit = "") {
  std::vector<std::pair<std::string, std::string>> files = {
      {"kits/sku-a/UpdateConfig.ini", std::string("HardwareIds={") + SKU_ID + "}\r\nVersion=9\r\n"},
      {"kits/sku-b/UpdateConfig.ini",
       "HardwareIds=01234567-89ab-5cde-8f01-23456789abcd\r\nVersion=9\r\n"},
      {"kits/board/UpdateConfig.ini",
       std::string("ProductName=System Product Name\r\nHardwareIds=") + BOARD_ID + "\r\nVersion=9\r\n"},
      {"kits/model7/UpdateConfig.ini", "ProductName=Model7\r\nVersion=2\r\n"},
  };
  if (!extra_kit.empty()) files.push_back({"kits/zz/UpdateConfig.ini", extra_kit});
  return files;
}

TEST(HardwareIdRuns, KitsChooseByIdAndRecordTheIdThatChose) {
  IdRun run = RunImage(ThinkPad(), {"-kits", "-v", "-n", "-log", "rollout.jsonl"}, SkuLibrary());
  EXPECT_EQ(run.status, EFI_SUCCESS);
  ASSERT_GE(run.console.size(), 2u);
  EXPECT_EQ(run.console[1], std::string("Kit kits\\sku-a: HardwareIds= {") + SKU_ID +
                                "} (HardwareID-7: Manufacturer&ProductSku) serves this machine.");
  nlohmann::json record = nlohmann::json::parse(run.log);
  EXPECT_EQ(record["kit"], "kits\\sku-a");
  EXPECT_EQ(record["hardware_id"], SKU_ID);
  EXPECT_EQ(record["family"], "ThinkPad X1 Carbon 5th");
  EXPECT_EQ(record["baseboard"], nlohmann::json::parse(R"({"manufacturer":"LENOVO","product":"20HRCTO1WW"})"));

  // Another SKU of the same product: no kit, the maker named.
  run = RunImage(ThinkPad("LENOVO_MT_20HS"), {"-kits"}, SkuLibrary());
  EXPECT_EQ(run.status, EFI_ABORTED);
  EXPECT_EQ(run.console, Lines{"ERROR: no kit in kits serves product \"0020HRCTO1WW \" of "
                               "manufacturer \"LENOVO\"."});
  // A malformed entry anywhere in the library: it might have been this machine's.
  run = RunImage(ThinkPad(), {"-kits"}, SkuLibrary("HardwareIds={3fb92698}\r\nVersion=1\r\n"));
  EXPECT_EQ(run.status, EFI_ABORTED);
  EXPECT_EQ(run.scripts, Lines{});
  EXPECT_EQ(run.console, Lines{"ERROR: kits\\zz: HardwareIds= entry \"{3fb92698}\" is not a "
                               "hardware ID; no kit can be chosen."});
}

}  // namespace
