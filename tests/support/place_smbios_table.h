// Makes hand-made table bytes the program-wide SMBIOS table: the bytes end
// right before an unmapped page, so a read past the end bound faults, and a
// 2.x entry point owned by the caller declares their length.
#pragma once

#include <cstring>
#include <vector>

#include "sim/firmware.h"
#include "smbios/entry_point.h"

namespace testsupport {

inline uint8_t *PlaceSmbiosTable(sim::Firmware *fw, SmbiosEntryPoint *entry,
                                 const std::vector<uint8_t> &bytes, uint16_t length,
                                 uint16_t count = 100) {
  uint8_t *table = fw->AllocateLow(bytes.size() + 1) + 1;
  if (!bytes.empty()) std::memcpy(table, bytes.data(), bytes.size());
  *entry = {};
  std::memcpy(entry->AnchorString, "_SM_", 4);
  entry->TableLength = length;
  entry->NumberOfSmbiosStructures = count;
  gSmbiosEntryPoint = entry;
  gSmbiosTableStart.Raw = table;
  return table;
}

}  // namespace testsupport
