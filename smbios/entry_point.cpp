// Locating the SMBIOS 2.x entry point. The firmware publishes it in the
// configuration table under the SMBIOS GUID; it is accepted on that GUID and
// its "_SM_" anchor alone, as firmware commonly ships entry points whose
// checksums nobody verifies. Only the first entry carrying the GUID is tried.
#include "smbios/entry_point.h"

#include "platform/console.h"
#include "platform/globals.h"

const uint8_t SMBIOS_TABLE_GUID_BYTES[16] = {0x31, 0x2D, 0x9D, 0xEB, 0x88, 0x2D, 0xD3, 0x11,
                                             0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D};
const uint8_t SMBIOS3_TABLE_GUID_BYTES[16] = {0x44, 0x15, 0xFD, 0xF2, 0x94, 0x97, 0x2C, 0x4A,
                                              0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94};

SmbiosEntryPoint *gSmbiosEntryPoint = nullptr;
SmbiosStructurePointer gSmbiosTableStart = {nullptr};

namespace {

bool MatchesSmbiosGuid(const EFI_GUID &guid) {
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&guid);
  for (size_t i = 0; i < sizeof(SMBIOS_TABLE_GUID_BYTES); ++i) {
    if (bytes[i] != SMBIOS_TABLE_GUID_BYTES[i]) return false;
  }
  return true;
}

bool LookUp() {
  if (gST == nullptr || gST->NumberOfTableEntries == 0 || gST->ConfigurationTable == nullptr) {
    return false;
  }
  for (UINTN i = 0; i < gST->NumberOfTableEntries; ++i) {
    const EFI_CONFIGURATION_TABLE &entry = gST->ConfigurationTable[i];
    if (!MatchesSmbiosGuid(entry.VendorGuid)) continue;
    gSmbiosEntryPoint = static_cast<SmbiosEntryPoint *>(entry.VendorTable);
    if (gSmbiosEntryPoint == nullptr) return false;
    const uint8_t *anchor = gSmbiosEntryPoint->AnchorString;
    return anchor[0] == '_' && anchor[1] == 'S' && anchor[2] == 'M' && anchor[3] == '_';
  }
  return false;
}

}  // namespace

bool FindSmbiosEntryPoint() {
  gSmbiosEntryPoint = nullptr;
  if (LookUp()) return true;
  ConsolePrint(u"ERROR: SMBIOS table not found.\n");
  return false;
}
