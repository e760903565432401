// Fleet rows on hand-made tables: the warnings the real-world
// version strings call for, and where exactly the walk stopped.
#include "fleet/fleet_row.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/run.h"
#include "support/smbios_table_builder.h"

namespace {

namespace fs = std::filesystem;

// BIOS Information with the usual string order (vendor 1, version 2, date
// 3), and System Information naming maker 1 and product 2.
void AddBios(testsupport::SmbiosTableBuilder *table, uint16_t handle, const std::string &version) {
  table->Raw({0, 0x12, static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8), 1, 2, 0, 0xE8, 3, 0x0F,
              0, 0, 0, 0, 0, 0, 0, 0});
  for (const std::string &text : {std::string("Acme"), version, std::string("01/02/2026")}) {
    table->Raw({});
    for (char c : text) table->Raw({static_cast<uint8_t>(c)});
    table->Raw({0});
  }
  table->Raw({0});
}

void AddSystem(testsupport::SmbiosTableBuilder *table, uint16_t handle, const std::string &product) {
  table->Raw({1, 8, static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8), 1, 2, 0, 0, 'A', 'c', 'm', 'e', 0});
  for (char c : product) table->Raw({static_cast<uint8_t>(c)});
  table->Raw({0, 0});
}

// Sized whole at once and filled in place: growing a 32-byte vector by
// insert trips GCC 12's -Warray-bounds at -O3 (a false alarm in its
// reallocation path), which the release preset treats as an error.
std::vector<uint8_t> Dump2(const testsupport::SmbiosTableBuilder &table, uint16_t count) {
  const std::vector<uint8_t> &bytes = table.Bytes();
  std::vector<uint8_t> dump(32 + bytes.size(), 0);
  std::memcpy(&dump[0], "_SM_", 4);
  std::memcpy(&dump[0x10], "_DMI_", 5);
  uint16_t length = static_cast<uint16_t>(bytes.size());
  uint32_t address = 32;
  std::memcpy(&dump[0x16], &length, 2);
  std::memcpy(&dump[0x18], &address, 4);
  std::memcpy(&dump[0x1C], &count, 2);
  std::copy(bytes.begin(), bytes.end(), dump.begin() + 32);
  return dump;
}

class FleetRowTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fleet-row-XXXXXX";
    folder_ = mkdtemp(pattern);
    settings_.kits = {MakeKit("kit", "Model7", "A07")};
  }
  void TearDown() override { fs::remove_all(folder_); }
  // A kit folder under the fixture's folder, with the UpdateConfig.ini the
  // report would read from it.
  fleet::KitInfo MakeKit(const std::string &name, const std::string &product,
                         const std::string &version) {
    fleet::KitInfo kit;
    kit.folder = folder_ + "/" + name;
    fs::create_directories(kit.folder);
    std::ofstream(kit.folder + "/UpdateConfig.ini")
        << "ProductName=" << product << "\r\nVersion=" << version << "\r\n";
    kit.has_product_name = !product.empty();
    kit.product_name = product;
    kit.has_version = true;
    kit.version = version;
    return kit;
  }
  std::string folder_;
  std::vector<std::string> Keys(const fleet::FleetRow &row) {
    std::vector<std::string> keys;
    for (const fleet::Warning &warning : row.warnings) keys.push_back(warning.key);
    return keys;
  }
  fleet::FleetSettings settings_;
};

TEST_F(FleetRowTest, IntegerRuleWarningsForRealVersionStrings) {
  const struct {
    std::string version;
    std::vector<std::string> keys;
  } cases[] = {
      {"A05", {"reads-as-zero", "runs-differ"}},
      {"P61", {"reads-as-zero", "runs-differ", "segments-cannot-compare"}},
      {"I15", {"reads-as-zero", "runs-differ", "segments-cannot-compare"}},
      {"-[A3E148AUS-1.07]-", {"reads-as-zero", "runs-differ", "segments-cannot-compare"}},
      {"G1ET45WW (1.20 )", {"reads-as-zero", "runs-differ", "segments-cannot-compare"}},
      {"7LET56WW (1.26 )", {"leading-number-only", "runs-differ", "segments-cannot-compare"}},
      {"A07", {"reads-as-zero"}},
      {"  12", {"runs-differ", "segments-cannot-compare"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.version);
    testsupport::SmbiosTableBuilder table;
    AddBios(&table, 0x0000, c.version);
    AddSystem(&table, 0x0001, "Model7  ");
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", Dump2(table, 2), settings_);
    EXPECT_EQ(row.error, "");
    EXPECT_EQ(Keys(row), c.keys);
    EXPECT_EQ(row.facts.product, "Model7  ");
    EXPECT_EQ(fleet::FirstBios(row.facts).field_string, c.version);
  }
}

TEST_F(FleetRowTest, WalkStopGivesTheTableOffsetAndTheCause) {
  testsupport::SmbiosTableBuilder repeated;
  repeated.Add(0xD0, 0x0000, {"x"}).Add(0xDA, 0xDA00, {"x"}).Add(0xDB, 0xDA00, {"y"}).Add(1, 0x0002, {});
  testsupport::SmbiosTableBuilder damaged;
  damaged.Add(0xD0, 0x0000, {"x"}).Raw({3, 2, 0x03, 0x00, 0, 0});
  testsupport::SmbiosTableBuilder invalid;
  invalid.Add(0xD0, 0x0000, {"x"}).Add(2, 0xFFFF, {});
  const struct {
    const testsupport::SmbiosTableBuilder *table;
    uint16_t count;
    size_t stop;  // table offset where the walk stops
    std::string cause;
  } cases[] = {
      {&repeated, 4, repeated.StartOf(2), "where handle 0xDA00 repeats: 2 structures are read"},
      {&damaged, 2, damaged.Bytes().size() - 6, "where a damaged structure begins: 1 structures are read"},
      {&invalid, 2, invalid.StartOf(1), "where a structure bears the invalid handle 0xFFFF"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.cause);
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", Dump2(*c.table, c.count), settings_);
    std::string walk;
    for (const fleet::Warning &warning : row.warnings) {
      if (warning.key == "walk-stopped") walk = warning.sentence;
    }
    char offset[16];
    std::snprintf(offset, sizeof(offset), "0x%04zX of", c.stop);
    EXPECT_NE(walk.find(offset), std::string::npos) << walk;
    EXPECT_NE(walk.find(c.cause), std::string::npos) << walk;
  }
  // The declared count reached, or the table's end: no warning.
  fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", Dump2(repeated, 1), settings_);
  for (const fleet::Warning &warning : row.warnings) EXPECT_NE(warning.key, "walk-stopped");
}

TEST_F(FleetRowTest, NotSmbiosDataIsAnErrorRow) {
  for (const std::string &bytes : {std::string(), std::string("_SM_"), std::string("MZ\x90\0", 4)}) {
    fleet::FleetRow row =
        fleet::MakeFleetRowFromDump("m", std::vector<uint8_t>(bytes.begin(), bytes.end()), settings_);
    EXPECT_NE(row.error, "");
    EXPECT_TRUE(row.run.scripts.empty() && row.warnings.empty());
  }
}

}  // namespace

namespace {

std::vector<uint8_t> Machine(const std::string &product, const std::string &version) {
  testsupport::SmbiosTableBuilder table;
  AddBios(&table, 0x0000, version);
  if (!product.empty()) AddSystem(&table, 0x0001, product);
  return Dump2(table, product.empty() ? 1 : 2);
}

std::vector<std::string> KitsOf(const fleet::FleetRow &row) {
  std::vector<std::string> kits;
  for (const fleet::KitRuns &runs : row.kits) kits.push_back(runs.kit);
  return kits;
}

TEST_F(FleetRowTest, EachMachineRunsUnderTheKitsItsProductMatches) {
  fleet::KitInfo desk = MakeKit("desk", "Model7", "A09");
  fleet::KitInfo laptops = MakeKit("laptops", "20L5*|20L6*", "A07");
  fleet::KitInfo all_20 = MakeKit("all-20", "20L6S0CD00|Model9", "A05");
  settings_.kits = {desk, laptops, all_20};
  const struct {
    std::string product;
    std::vector<std::string> kits;
    std::string choice_warning;  // the kit-choice warning's key, or ""
  } cases[] = {
      {"Model7  ", {desk.folder}, ""},
      {"20L5CTO1WW", {laptops.folder}, ""},
      {"20L6S0CD00", {laptops.folder, all_20.folder}, "several-kits"},
      {"20L7CTO1WW", {}, "no-kit"},
      {"model7", {}, "no-kit"},
      {"", {}, "no-kit"},  // no System Information structure at all
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.product);
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", Machine(c.product, "A07"), settings_);
    EXPECT_EQ(row.error, "");
    EXPECT_EQ(KitsOf(row), c.kits);
    std::vector<std::string> keys = Keys(row);
    for (const char *key : {"several-kits", "no-kit", "product-mismatch"}) {
      bool want = c.choice_warning == key;
      EXPECT_EQ(std::count(keys.begin(), keys.end(), key), want ? 1 : 0) << key;
    }
    // Each kit's runs read that kit's own UpdateConfig.ini: A07 against
    // A09 is older, against A07 the same, against A05 newer.
    for (const fleet::KitRuns &runs : row.kits) {
      std::string want = runs.kit == desk.folder ? "UpdateHWOld.nsh" : "UpdateHWNew.nsh";
      EXPECT_EQ(runs.segments.scripts, std::vector<std::string>{want}) << runs.kit;
    }
    if (!row.kits.empty()) {
      EXPECT_EQ(row.run.scripts, row.kits.front().run.scripts);
    }
    if (row.kits.size() > 1) {
      // The several-kits sentence names every kit with its outcome.
      std::string sentence = row.warnings.back().sentence;
      EXPECT_NE(sentence.find(laptops.folder + " (UpdateHWNew.nsh)"), std::string::npos) << sentence;
      EXPECT_NE(sentence.find(all_20.folder + " (UpdateHWNew.nsh)"), std::string::npos) << sentence;
    }
    if (row.kits.empty()) {
      EXPECT_TRUE(row.run.scripts.empty() && row.segments.scripts.empty());
    }
  }
}

TEST_F(FleetRowTest, OneKitRunsEveryMachineAndWarnsOfAnotherModel) {
  const struct {
    std::string kit_product;
    std::string product;
    bool mismatch;
  } cases[] = {
      {"Model7", "Model7", false},
      {"Model7", "Model7   ", false},
      {"Model*", "Model8", false},
      {"Model7", "Model8", true},
      {"Model7", "", true},   // the data names no product
      {"", "Model7", true},   // the kit names none
      {"*", "Model7", true},  // a lone '*' serves no model
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.kit_product + " / " + c.product);
    settings_.kits = {MakeKit("one", c.kit_product, "A09")};
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", Machine(c.product, "A07"), settings_);
    ASSERT_EQ(KitsOf(row), std::vector<std::string>{settings_.kits[0].folder});
    EXPECT_EQ(row.segments.scripts, std::vector<std::string>{"UpdateHWOld.nsh"});
    std::vector<std::string> keys = Keys(row);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "product-mismatch"), c.mismatch ? 1 : 0);
  }
}

}  // namespace

namespace {

// A machine with BIOS A05 and Processor Information naming `family`
// (through Processor Family 2 for values above 0xFF); none when 0.
std::vector<uint8_t> MachineWithProcessor(uint16_t family) {
  testsupport::SmbiosTableBuilder table;
  AddBios(&table, 0, "A05");
  AddSystem(&table, 1, "Model7");
  uint16_t count = 2;
  if (family != 0) {
    std::vector<uint8_t> processor(0x2A, 0);
    processor[0] = 4;
    processor[1] = 0x2A;
    processor[2] = 2;
    processor[6] = family > 0xFF ? 0xFE : static_cast<uint8_t>(family);
    processor[0x28] = static_cast<uint8_t>(family);
    processor[0x29] = static_cast<uint8_t>(family >> 8);
    processor.push_back(0);
    processor.push_back(0);
    for (uint8_t byte : processor) table.Raw({byte});
    ++count;
  }
  return Dump2(table, count);
}

}  // namespace

TEST_F(FleetRowTest, AMediumForBothMachinesRunsEachWithItsProcessorsLine) {
  // The AArch64 line decides only (-n): whose line ran shows in the scripts.
  settings_.args = {"-segments"};
  settings_.has_aarch64_args = true;
  settings_.aarch64_args = {"-segments", "-n"};
  const struct {
    const char *what;
    uint16_t family;
    std::vector<std::string> scripts;
    bool differ_warning;
  } cases[] = {
      {"ARMv8", 0x101, {}, false},
      {"ARM", 0x118, {}, false},
      {"Intel Core i7", 0xC6, {"UpdateHWOld.nsh"}, false},
      {"AMD Zen", 0x6B, {"UpdateHWOld.nsh"}, false},
      {"family Unknown", 0x02, {"UpdateHWOld.nsh"}, true},
      {"no Processor Information", 0, {"UpdateHWOld.nsh"}, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    fleet::FleetRow row =
        fleet::MakeFleetRowFromDump("m", MachineWithProcessor(c.family), settings_);
    EXPECT_EQ(row.run.scripts, c.scripts);
    std::vector<std::string> keys = Keys(row);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "arch-lines-differ"), c.differ_warning ? 1 : 0);
  }
  // Lines that decide alike give no warning where the processor is unknown.
  settings_.aarch64_args = {"-segments", "-smbios3"};
  fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", MachineWithProcessor(0), settings_);
  std::vector<std::string> keys = Keys(row);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "arch-lines-differ"), 0);
}

TEST_F(FleetRowTest, ARunRecordIsWrittenAsOnAStick) {
  testsupport::SmbiosTableBuilder table;
  AddBios(&table, 0, "A05");
  AddSystem(&table, 1, "Model7");
  for (const char *file : {"\\rollout.jsonl", "records.jsonl"}) {
    SCOPED_TRACE(file);
    settings_.args = {"-segments", "-log", file};
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", Dump2(table, 2), settings_);
    EXPECT_EQ(row.run.scripts, std::vector<std::string>{"UpdateHWOld.nsh"});
    EXPECT_EQ(row.run.messages, std::vector<std::string>{});
  }
}

// The UUID text has one rule, the image's: the run record a machine writes
// and the report's row for its data name the UUID alike, in the byte order
// its SMBIOS version decides (the first three fields little-endian from
// 2.6 on), so records join their machines on old tables too.
TEST_F(FleetRowTest, TheRowNamesTheUuidAsTheMachinesRecordDoes) {
  testsupport::SmbiosTableBuilder table;
  AddBios(&table, 0x0000, "1.26");
  // System Information with a UUID (offset 0x08) and a serial number.
  table.Raw({1, 0x1B, 0x01, 0x00, 1, 2, 0, 3});
  for (uint8_t byte = 0x10; byte < 0x20; ++byte) table.Raw({byte});
  table.Raw({6, 0, 0});
  for (const char *text : {"Acme", "Model7", "SN-1"}) {
    for (const char *c = text; *c != '\0'; ++c) table.Raw({static_cast<uint8_t>(*c)});
    table.Raw({0});
  }
  table.Raw({0});
  std::vector<std::string> uuids;
  for (uint8_t minor : {3, 8}) {
    SCOPED_TRACE(testing::Message() << "SMBIOS 2." << int(minor));
    std::vector<uint8_t> dump = Dump2(table, 2);
    dump[0x06] = 2;
    dump[0x07] = minor;
    fleet::FleetRow row = fleet::MakeFleetRowFromDump("m", dump, settings_);
    ASSERT_TRUE(row.facts.has_uuid);
    sim::ImageRun run;
    run.args = {"-log", "r.jsonl"};
    run.files = {{"UpdateConfig.ini", "Version=2\r\n"}};
    run.writable = true;
    run.smbios = &dump;
    std::string record;
    run.after = [&record](sim::Firmware &firmware) { firmware.ReadFile("r.jsonl", &record); };
    sim::ImageRunResult result;
    std::string error;
    ASSERT_TRUE(sim::RunImage(run, &result, &error)) << error;
    EXPECT_NE(record.find("\"uuid\":\"" + row.facts.uuid + "\""), std::string::npos) << record;
    uuids.push_back(row.facts.uuid);
  }
  EXPECT_EQ(uuids, (std::vector<std::string>{"10111213-1415-1617-1819-1a1b1c1d1e1f",
                                             "13121110-1514-1716-1819-1a1b1c1d1e1f"}));
}
