// FindSmbiosEntryPoint over configuration tables built on the simulated
// firmware: which entry is taken, and every path to the message.
#include "smbios/entry_point.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/firmware.h"

namespace {

const std::u16string NOT_FOUND = u"ERROR: SMBIOS table not found.\r\n";

EFI_GUID GuidFromBytes(const uint8_t bytes[16]) {
  EFI_GUID guid;
  std::memcpy(&guid, bytes, sizeof guid);
  return guid;
}

const EFI_GUID SMBIOS_GUID = GuidFromBytes(SMBIOS_TABLE_GUID_BYTES);
const EFI_GUID SMBIOS3_GUID = GuidFromBytes(SMBIOS3_TABLE_GUID_BYTES);
const EFI_GUID OTHER_GUID = {0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0, 0x80, 0xC7, 0x3C, 0x88, 0x81}};

class FindSmbiosEntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override { fw_.InstallGlobals(); }
  void TearDown() override { EXPECT_EQ(sim::LeakReport(fw_), ""); }

  uint8_t *EntryPoint(const char *anchor) {
    uint8_t *ep = fw_.AllocateLow(sizeof(SmbiosEntryPoint));
    std::memcpy(ep, anchor, 4);
    return ep;
  }

  sim::Firmware fw_;
};

TEST_F(FindSmbiosEntryPointTest, EmptyConfigurationTablePrintsTheMessageOnce) {
  EXPECT_FALSE(FindSmbiosEntryPoint());
  EXPECT_EQ(gSmbiosEntryPoint, nullptr);
  EXPECT_EQ(fw_.ConsoleLines(), std::vector<std::u16string>{NOT_FOUND});
}

TEST_F(FindSmbiosEntryPointTest, TakesTheSmbiosEntryWhereverItStands) {
  uint8_t *ep = EntryPoint("_SM_");
  ep[4] = 0x5A;  // a wrong checksum goes unnoticed
  fw_.AddConfigurationTable(OTHER_GUID, nullptr);
  fw_.AddConfigurationTable(SMBIOS3_GUID, EntryPoint("_SM3"));
  fw_.AddConfigurationTable(SMBIOS_GUID, ep);
  EXPECT_TRUE(FindSmbiosEntryPoint());
  EXPECT_EQ(reinterpret_cast<uint8_t *>(gSmbiosEntryPoint), ep);
  EXPECT_TRUE(fw_.ConsoleLines().empty());
}

TEST(FindSmbiosEntryPoint, OnlyTheFirstSmbiosEntryIsTried) {
  for (bool null_table : {true, false}) {
    sim::Firmware fw;
    fw.InstallGlobals();
    uint8_t *bad = fw.AllocateLow(sizeof(SmbiosEntryPoint));
    std::memcpy(bad, "_DMI", 4);
    uint8_t *good = fw.AllocateLow(sizeof(SmbiosEntryPoint));
    std::memcpy(good, "_SM_", 4);
    fw.AddConfigurationTable(SMBIOS_GUID, null_table ? nullptr : bad);
    fw.AddConfigurationTable(SMBIOS_GUID, good);
    EXPECT_FALSE(FindSmbiosEntryPoint());
    EXPECT_EQ(fw.ConsoleLines(), std::vector<std::u16string>{NOT_FOUND});
  }
}

TEST_F(FindSmbiosEntryPointTest, GuidMustMatchInAllSixteenBytes) {
  EFI_GUID near_miss = SMBIOS_GUID;
  reinterpret_cast<uint8_t *>(&near_miss)[15] ^= 0x01;
  fw_.AddConfigurationTable(near_miss, EntryPoint("_SM_"));
  EXPECT_FALSE(FindSmbiosEntryPoint());
}

TEST_F(FindSmbiosEntryPointTest, OnlyA3xEntryPointIsNotFound) {
  uint8_t *ep3 = fw_.AllocateLow(24);
  std::memcpy(ep3, "_SM3_", 5);
  fw_.AddConfigurationTable(SMBIOS3_GUID, ep3);
  EXPECT_FALSE(FindSmbiosEntryPoint());
  EXPECT_EQ(fw_.ConsoleLines(), std::vector<std::u16string>{NOT_FOUND});
}

TEST_F(FindSmbiosEntryPointTest, The3xLookupIsQuietAndChecksItsAnchor) {
  // "_SM3" without the final '_' and a 2.x anchor under the 3.x GUID are no
  // 3.x entry points; the first entry with the GUID is the only one tried.
  for (const char *anchor : {"_SM3", "_SM_"}) {
    sim::Firmware fw;
    fw.InstallGlobals();
    uint8_t *bad = fw.AllocateLow(24);
    std::memcpy(bad, anchor, std::strlen(anchor));
    fw.AddConfigurationTable(SMBIOS3_GUID, bad);
    fw.PublishSmbios3({});
    EXPECT_FALSE(FindSmbios3EntryPoint());
    EXPECT_EQ(gSmbios3EntryPoint, nullptr);
    EXPECT_TRUE(fw.ConsoleLines().empty());
  }
  fw_.InstallGlobals();
  uint8_t *ep3 = fw_.PublishSmbios3({});
  fw_.AddConfigurationTable(SMBIOS_GUID, EntryPoint("_SM_"));
  EXPECT_TRUE(FindSmbios3EntryPoint());
  EXPECT_EQ(reinterpret_cast<uint8_t *>(gSmbios3EntryPoint), ep3);
  EXPECT_EQ(gSmbiosEntryPoint, nullptr);
  // The 2.x lookup forgets the 3.x choice, so the table is bounded by 2.x.
  EXPECT_TRUE(FindSmbiosEntryPoint());
  EXPECT_EQ(gSmbios3EntryPoint, nullptr);
  EXPECT_TRUE(fw_.ConsoleLines().empty());
}

}  // namespace
