// Low memory and SMBIOS publishing: tables below 4 GiB that end right before
// an inaccessible page, entry points built or taken from dump files, and
// the configuration table entries that point at them.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/firmware.h"
#include "smbios/entry_point.h"
#include "smbios/smbios_types.h"

namespace {

// The permissions of the mapping holding `address` as /proc/self/maps
// lists them ("rw-p", "---p"), or "" when nothing is mapped there. Reading
// the guard itself would kill the test.
std::string Protection(const void *address) {
  uintptr_t where = reinterpret_cast<uintptr_t>(address);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range;
    std::string perms;
    fields >> range >> perms;
    size_t dash = range.find('-');
    uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
    uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (where >= start && where < end) return perms;
  }
  return "";
}

void ExpectGuardedLowBlock(const uint8_t *block, size_t size) {
  EXPECT_LT(reinterpret_cast<uintptr_t>(block) + size, uintptr_t{1} << 32);
  if (size != 0) {
    EXPECT_EQ(Protection(block).substr(0, 2), "rw");
    EXPECT_EQ(Protection(block + size - 1).substr(0, 2), "rw");
  }
  EXPECT_EQ(Protection(block + size).substr(0, 3), "---");
}

const void *FindTable(sim::Firmware &fw, const uint8_t (&guid)[16]) {
  EFI_SYSTEM_TABLE *st = fw.SystemTable();
  for (UINTN i = 0; i < st->NumberOfTableEntries; ++i) {
    if (std::memcmp(&st->ConfigurationTable[i].VendorGuid, guid, 16) == 0) {
      return st->ConfigurationTable[i].VendorTable;
    }
  }
  return nullptr;
}

template <typename T>
void Put(std::vector<uint8_t> *bytes, size_t offset, T value) {
  std::memcpy(bytes->data() + offset, &value, sizeof(value));
}

// A dump as the dump tool writes it: entry point, padding to 32, table.
// Sized whole at once and filled in place: growing a 32-byte vector by
// insert trips GCC 12's -Warray-bounds at -O3 (the release preset).
std::vector<uint8_t> Dump2(const std::vector<uint8_t> &table, uint16_t declared_length) {
  std::vector<uint8_t> dump(32 + table.size(), 0);
  std::memcpy(dump.data(), "_SM_", 4);
  dump[0x04] = 0x5A;  // checksum, kept as it is
  dump[0x05] = 0x1F;
  dump[0x06] = 2;
  dump[0x07] = 7;
  std::memcpy(dump.data() + 0x10, "_DMI_", 5);
  Put<uint16_t>(&dump, 0x16, declared_length);
  Put<uint32_t>(&dump, 0x18, 32);
  Put<uint16_t>(&dump, 0x1C, 3);
  std::copy(table.begin(), table.end(), dump.begin() + 32);
  return dump;
}

TEST(AllocateLow, BelowFourGiBZeroedAndGuarded) {
  sim::Firmware fw;
  for (size_t size : {size_t{0}, size_t{1}, size_t{31}, size_t{4096}, size_t{65535}}) {
    SCOPED_TRACE(size);
    uint8_t *block = fw.AllocateLow(size);
    ExpectGuardedLowBlock(block, size);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(block[i], 0) << i;
  }
}

TEST(PublishSmbios2, BuildsAValidEntryPointForTheTable) {
  sim::Firmware fw;
  std::vector<uint8_t> table = {0, 4, 0, 0, 'a', 0, 0, 127, 4, 1, 0, 0, 0};
  uint8_t *entry = fw.PublishSmbios2(table, 2);
  EXPECT_EQ(FindTable(fw, SMBIOS_TABLE_GUID_BYTES), entry);
  ExpectGuardedLowBlock(entry, sizeof(SmbiosEntryPoint));
  SmbiosEntryPoint ep;
  std::memcpy(&ep, entry, sizeof(ep));
  EXPECT_EQ(std::memcmp(ep.AnchorString, "_SM_", 4), 0);
  EXPECT_EQ(std::memcmp(ep.IntermediateAnchorString, "_DMI_", 5), 0);
  EXPECT_EQ(ep.TableLength, table.size());
  EXPECT_EQ(ep.NumberOfSmbiosStructures, 2);
  uint8_t sum = 0;
  for (size_t i = 0; i < sizeof(ep); ++i) sum = static_cast<uint8_t>(sum + entry[i]);
  EXPECT_EQ(sum, 0);
  const uint8_t *placed = reinterpret_cast<const uint8_t *>(uintptr_t{ep.TableAddress});
  EXPECT_EQ(std::vector<uint8_t>(placed, placed + table.size()), table);
  ExpectGuardedLowBlock(placed, table.size());
}

TEST(PublishSmbiosDump, Version2TableIsPlacedAndAddressRewritten) {
  sim::Firmware fw;
  std::vector<uint8_t> table = {0, 4, 0, 0, 'x', 0, 0};
  // Declared longer than the file holds: the missing bytes are zeros.
  std::vector<uint8_t> dump = Dump2(table, 12);
  std::string error;
  ASSERT_TRUE(fw.PublishSmbiosDump(dump, &error)) << error;
  EXPECT_EQ(FindTable(fw, SMBIOS3_TABLE_GUID_BYTES), nullptr);
  const uint8_t *entry = static_cast<const uint8_t *>(FindTable(fw, SMBIOS_TABLE_GUID_BYTES));
  ASSERT_NE(entry, nullptr);
  ExpectGuardedLowBlock(entry, 31);
  uint32_t address;
  std::memcpy(&address, entry + 0x18, 4);
  // Every other byte stays as the file has it, checksum included.
  std::vector<uint8_t> expected(dump.begin(), dump.begin() + 31);
  Put<uint32_t>(&expected, 0x18, address);
  EXPECT_EQ(std::vector<uint8_t>(entry, entry + 31), expected);
  const uint8_t *placed = reinterpret_cast<const uint8_t *>(uintptr_t{address});
  std::vector<uint8_t> filled = table;
  filled.resize(12, 0);
  EXPECT_EQ(std::vector<uint8_t>(placed, placed + 12), filled);
  ExpectGuardedLowBlock(placed, 12);
}

TEST(PublishSmbiosDump, Version3TableUsesItsOwnGuidAnd64BitAddress) {
  sim::Firmware fw;
  std::vector<uint8_t> table = {127, 4, 0xFE, 0xFF, 0, 0, 0xAA, 0xBB};
  std::vector<uint8_t> dump(32 + table.size() + 1, 0);
  std::memcpy(dump.data(), "_SM3_", 5);
  dump[0x06] = 0x18;
  dump[0x07] = 3;
  Put<uint32_t>(&dump, 0x0C, 8);
  Put<uint64_t>(&dump, 0x10, 32);
  std::copy(table.begin(), table.end(), dump.begin() + 32);
  dump.back() = 0xCC;  // beyond the declared size: not copied
  std::string error;
  ASSERT_TRUE(fw.PublishSmbiosDump(dump, &error)) << error;
  EXPECT_EQ(FindTable(fw, SMBIOS_TABLE_GUID_BYTES), nullptr);
  const uint8_t *entry = static_cast<const uint8_t *>(FindTable(fw, SMBIOS3_TABLE_GUID_BYTES));
  ASSERT_NE(entry, nullptr);
  ExpectGuardedLowBlock(entry, 24);
  uint64_t address;
  std::memcpy(&address, entry + 0x10, 8);
  EXPECT_EQ(std::memcmp(entry, dump.data(), 0x10), 0);
  const uint8_t *placed = reinterpret_cast<const uint8_t *>(uintptr_t{address});
  EXPECT_EQ(std::vector<uint8_t>(placed, placed + 8), table);
  ExpectGuardedLowBlock(placed, 8);
}

TEST(PublishSmbiosDump, RefusesWhatIsNotADump) {
  std::vector<uint8_t> good = Dump2({0, 4, 0, 0, 0, 0}, 6);
  std::vector<uint8_t> far = good;
  Put<uint32_t>(&far, 0x18, 0x000F0000);  // a live system's address
  std::vector<uint8_t> huge(32, 0);
  std::memcpy(huge.data(), "_SM3_", 5);
  Put<uint32_t>(&huge, 0x0C, 0xFFFFFFFF);
  Put<uint64_t>(&huge, 0x10, 32);
  const struct {
    const char *name;
    std::vector<uint8_t> bytes;
    const char *reason;
  } cases[] = {
      {"empty", {}, "anchor"},
      {"text", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, "anchor"},
      {"short 2.x", std::vector<uint8_t>(good.begin(), good.begin() + 20), "too short"},
      {"short 3.x", std::vector<uint8_t>{'_', 'S', 'M', '3', '_', 0, 0}, "too short"},
      {"table address beyond the file", far, "beyond"},
      {"absurd 3.x size", huge, "declares"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Firmware fw;
    std::string error;
    EXPECT_FALSE(fw.PublishSmbiosDump(c.bytes, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(fw.SystemTable()->NumberOfTableEntries, 0u);
  }
}

TEST(ConfigurationTable, EndsBeforeAGuardPage) {
  sim::Firmware fw;
  EXPECT_EQ(fw.SystemTable()->NumberOfTableEntries, 0u);
  constexpr EFI_GUID GUID = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  int a = 0;
  int b = 0;
  fw.AddConfigurationTable(GUID, &a);
  fw.AddConfigurationTable(GUID, &b);
  EFI_SYSTEM_TABLE *st = fw.SystemTable();
  ASSERT_EQ(st->NumberOfTableEntries, 2u);
  EXPECT_EQ(st->ConfigurationTable[0].VendorTable, &a);
  EXPECT_EQ(st->ConfigurationTable[1].VendorTable, &b);
  ExpectGuardedLowBlock(reinterpret_cast<const uint8_t *>(st->ConfigurationTable),
                        2 * sizeof(EFI_CONFIGURATION_TABLE));
}

}  // namespace
