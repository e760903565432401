// Locating the SMBIOS 2.x entry point. The firmware publishes it in the
// configuration table under the SMBIOS GUID; it is accepted on that GUID and
// its "_SM_" anchor alone, as firmware commonly ships entry points whose
// checksums nobody verifies. Only the first entry carrying the GUID is tried.
#include "smbios/entry_point.h"

#include "libc/string.h"
#include "platform/console.h"
#include "platform/globals.h"
#include "platform/natural_align.h"

const uint8_t SMBIOS_TABLE_GUID_BYTES[16] NATURAL_ALIGN(uint8_t) = {
    0x31, 0x2D, 0x9D, 0xEB, 0x88, 0x2D, 0xD3, 0x11, 0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D};
const uint8_t SMBIOS3_TABLE_GUID_BYTES[16] NATURAL_ALIGN(uint8_t) = {
    0x44, 0x15, 0xFD, 0xF2, 0x94, 0x97, 0x2C, 0x4A, 0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94};

SmbiosEntryPoint *gSmbiosEntryPoint = nullptr;
Smbios3EntryPoint *gSmbios3EntryPoint = nullptr;
SmbiosStructurePointer gSmbiosTableStart = {nullptr};

namespace {

// The table of the first configuration entry carrying Guid, when it begins
// with Anchor; null otherwise.
void *LookUp(const uint8_t (&guid)[16], const char *anchor, size_t anchor_length) {
  // No entries at all is the loop's own end.
  if (gST == nullptr || gST->ConfigurationTable == nullptr) return nullptr;
  for (UINTN i = 0; i < gST->NumberOfTableEntries; ++i) {
    const EFI_CONFIGURATION_TABLE &entry = gST->ConfigurationTable[i];
    if (libc::memcmp(&entry.VendorGuid, guid, sizeof(guid)) != 0) continue;
    if (entry.VendorTable == nullptr) return nullptr;
    bool anchored = libc::memcmp(entry.VendorTable, anchor, anchor_length) == 0;
    return anchored ? entry.VendorTable : nullptr;
  }
  return nullptr;
}

}  // namespace

bool FindSmbiosEntryPoint() {
  gSmbios3EntryPoint = nullptr;
  gSmbiosEntryPoint = static_cast<SmbiosEntryPoint *>(LookUp(SMBIOS_TABLE_GUID_BYTES, "_SM_", 4));
  if (gSmbiosEntryPoint != nullptr) return true;
  ConsolePrintAscii("ERROR: SMBIOS table not found.\n");
  return false;
}

bool FindSmbios3EntryPoint() {
  gSmbiosEntryPoint = nullptr;
  gSmbios3EntryPoint =
      static_cast<Smbios3EntryPoint *>(LookUp(SMBIOS3_TABLE_GUID_BYTES, "_SM3_", 5));
  return gSmbios3EntryPoint != nullptr;
}

bool LocateSmbiosTable(bool Smbios3, uint16_t *Declared) {
  uint64_t address = 0;
  if (Smbios3 && FindSmbios3EntryPoint()) {
    address = gSmbios3EntryPoint->TableAddress;
    *Declared = 0xFFFF;
  } else {
    if (!FindSmbiosEntryPoint()) return false;
    address = gSmbiosEntryPoint->TableAddress;
    *Declared = gSmbiosEntryPoint->NumberOfSmbiosStructures;
  }
  gSmbiosTableStart.Raw = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(address));
  return true;
}

uint64_t SmbiosTableLength() {
  if (gSmbios3EntryPoint != nullptr) return gSmbios3EntryPoint->TableMaximumSize;
  return gSmbiosEntryPoint != nullptr ? gSmbiosEntryPoint->TableLength : 0;
}
