// Low memory and the SMBIOS tables the simulated firmware publishes.
//
// A 2.x entry point names its structure table by a 32-bit physical address,
// which the application uses directly as a pointer, so the tables must lie
// below 4 GiB: the mappings come from mmap with MAP_32BIT. Each block ends
// exactly where a PROT_NONE page begins, so a read one byte past a table
// faults instead of passing unnoticed.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/internal.h"
#include "sim/smbios_input.h"
#include "smbios/entry_point.h"
#include "smbios/smbios_types.h"

namespace sim {
namespace {

uint8_t Checksum(const uint8_t *bytes, size_t length) {
  uint8_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return static_cast<uint8_t>(-sum);
}

const EFI_GUID &GuidFromBytes(const uint8_t (&bytes)[16], EFI_GUID *guid) {
  std::memcpy(guid, bytes, sizeof(*guid));
  return *guid;
}

// The table bytes the dump holds from `offset` on, zero-filled up to
// `length`, placed low.
uint8_t *PlaceTable(Firmware *firmware, const std::vector<uint8_t> &dump, uint64_t offset,
                    uint64_t length) {
  uint8_t *table = firmware->AllocateLow(length);
  uint64_t available = dump.size() - offset;
  std::memcpy(table, dump.data() + offset, available < length ? available : length);
  return table;
}

// A copy of `bytes` placed low, published under `guid`.
uint8_t *PublishLowCopy(Firmware *firmware, const uint8_t (&guid_bytes)[16], const void *bytes,
                        size_t size) {
  uint8_t *low = firmware->AllocateLow(size);
  std::memcpy(low, bytes, size);
  EFI_GUID guid;
  firmware->AddConfigurationTable(GuidFromBytes(guid_bytes, &guid), low);
  return low;
}

uint8_t *PlaceTableCopy(Firmware *firmware, const std::vector<uint8_t> &table) {
  uint8_t *placed = firmware->AllocateLow(table.size());
  if (!table.empty()) std::memcpy(placed, table.data(), table.size());
  return placed;
}

}  // namespace

namespace {

// Released small mappings, guard page still in place, for the next
// firmware: a batch of runs (the fleet report makes two firmwares per
// machine) would otherwise spend most of its time in mmap, mprotect and
// munmap. A reused block is zero-filled again before it is handed out.
constexpr size_t REUSED_MAPPING_LIMIT = 256u << 10;
constexpr size_t REUSED_MAPPINGS_KEPT = 32;
std::vector<LowMapping> gReleasedMappings;

}  // namespace

void ReleaseLowMapping(const LowMapping &mapping) {
  if (mapping.length <= REUSED_MAPPING_LIMIT && gReleasedMappings.size() < REUSED_MAPPINGS_KEPT) {
    gReleasedMappings.push_back(mapping);
    return;
  }
  munmap(mapping.base, mapping.length);
}

uint8_t *Firmware::AllocateLow(size_t size) {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t data_pages = size == 0 ? 1 : (size + page - 1) / page;
  size_t length = (data_pages + 1) * page;
  for (size_t i = 0; i < gReleasedMappings.size(); ++i) {
    if (gReleasedMappings[i].length != length) continue;
    LowMapping mapping = gReleasedMappings[i];
    gReleasedMappings.erase(gReleasedMappings.begin() + static_cast<long>(i));
    std::memset(mapping.base, 0, data_pages * page);
    state_->low_mappings.push_back(mapping);
    return static_cast<uint8_t *>(mapping.base) + data_pages * page - size;
  }
  void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (base == MAP_FAILED) {
    std::perror("sim: mmap(MAP_32BIT)");
    std::abort();
  }
  uint8_t *guard = static_cast<uint8_t *>(base) + data_pages * page;
  if (mprotect(guard, page, PROT_NONE) != 0) {
    std::perror("sim: mprotect");
    std::abort();
  }
  state_->low_mappings.push_back(LowMapping{base, length});
  return guard - size;
}

uint8_t *Firmware::PublishSmbios2(const std::vector<uint8_t> &table, uint16_t structure_count) {
  uint8_t *placed = PlaceTableCopy(this, table);

  SmbiosEntryPoint entry{};
  std::memcpy(entry.AnchorString, "_SM_", 4);
  entry.EntryPointLength = sizeof(SmbiosEntryPoint);
  entry.MajorVersion = 2;
  entry.MinorVersion = 8;
  entry.MaxStructureSize = static_cast<uint16_t>(table.size() > 0xFFFF ? 0xFFFF : table.size());
  std::memcpy(entry.IntermediateAnchorString, "_DMI_", 5);
  entry.TableLength = static_cast<uint16_t>(table.size());
  entry.TableAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(placed));
  entry.NumberOfSmbiosStructures = structure_count;
  entry.SmbiosBcdRevision = 0x28;
  uint8_t *raw = reinterpret_cast<uint8_t *>(&entry);
  entry.IntermediateChecksum = Checksum(raw + 0x10, 0x0F);
  entry.EntryPointStructureChecksum = Checksum(raw, sizeof(entry));
  return PublishLowCopy(this, SMBIOS_TABLE_GUID_BYTES, &entry, sizeof(entry));
}

uint8_t *Firmware::PublishSmbios3(const std::vector<uint8_t> &table) {
  uint8_t *placed = PlaceTableCopy(this, table);

  Smbios3EntryPoint entry{};
  std::memcpy(entry.AnchorString, "_SM3_", 5);
  entry.EntryPointLength = sizeof(Smbios3EntryPoint);
  entry.MajorVersion = 3;
  entry.MinorVersion = 2;
  entry.EntryPointRevision = 1;
  entry.TableMaximumSize = static_cast<uint32_t>(table.size());
  entry.TableAddress = reinterpret_cast<uintptr_t>(placed);
  uint8_t *raw = reinterpret_cast<uint8_t *>(&entry);
  entry.EntryPointStructureChecksum = Checksum(raw, sizeof(entry));
  return PublishLowCopy(this, SMBIOS3_TABLE_GUID_BYTES, &entry, sizeof(entry));
}

bool Firmware::PublishSmbiosDump(const std::vector<uint8_t> &dump, std::string *error) {
  auto fail = [error](const std::string &why) {
    if (error != nullptr) *error = why;
    return false;
  };
  bool is3 = dump.size() >= 5 && std::memcmp(dump.data(), "_SM3_", 5) == 0;
  bool is2 = !is3 && dump.size() >= 4 && std::memcmp(dump.data(), "_SM_", 4) == 0;
  if (!is2 && !is3) return fail("not an SMBIOS dump: no \"_SM_\" or \"_SM3_\" anchor at offset 0");
  size_t entry_size = is3 ? sizeof(Smbios3EntryPoint) : sizeof(SmbiosEntryPoint);
  if (dump.size() < entry_size) {
    return fail(std::string("SMBIOS dump too short for a ") + (is3 ? "3.x" : "2.x") +
                " entry point: it needs " + std::to_string(entry_size) + " bytes, the file has " +
                std::to_string(dump.size()));
  }

  uint64_t offset;
  uint64_t length;
  if (is3) {
    Smbios3EntryPoint entry;
    std::memcpy(&entry, dump.data(), sizeof(entry));
    offset = entry.TableAddress;
    length = entry.TableMaximumSize;
  } else {
    SmbiosEntryPoint entry;
    std::memcpy(&entry, dump.data(), sizeof(entry));
    offset = entry.TableAddress;
    length = entry.TableLength;
  }
  // A dump names its table by file offset; an address beyond the file is a
  // memory address copied from a live system, not a dump.
  if (offset > dump.size()) {
    return fail("SMBIOS dump's table address " + std::to_string(offset) +
                 " lies beyond the end of the file (" + std::to_string(dump.size()) +
                " bytes); was the file written with dmidecode --dump-bin?");
  }
  if (length > SMBIOS_TABLE_LIMIT) {
    return fail("SMBIOS dump declares a table of " + std::to_string(length) +
                " bytes, more than the " + std::to_string(SMBIOS_TABLE_LIMIT >> 20) +
                " MiB taken from a dump");
  }

  uint8_t *table = PlaceTable(this, dump, offset, length);
  uint8_t *entry = AllocateLow(entry_size);
  std::memcpy(entry, dump.data(), entry_size);
  EFI_GUID guid;
  if (is3) {
    uint64_t address = reinterpret_cast<uintptr_t>(table);
    std::memcpy(entry + offsetof(Smbios3EntryPoint, TableAddress), &address, sizeof(address));
    AddConfigurationTable(GuidFromBytes(SMBIOS3_TABLE_GUID_BYTES, &guid), entry);
  } else {
    uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(table));
    std::memcpy(entry + offsetof(SmbiosEntryPoint, TableAddress), &address, sizeof(address));
    AddConfigurationTable(GuidFromBytes(SMBIOS_TABLE_GUID_BYTES, &guid), entry);
  }
  return true;
}

}  // namespace sim
