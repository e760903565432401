// Reading the version strings, the machine's first structures and the
// hardware-ID fields in place, through the SMBIOS string lookups that bound
// every read by the structure table.
#include "app/smbios_facts.h"

#include "platform/natural_align.h"
#include "smbios/structure_table.h"

namespace {

void KeepFirst(SmbiosStructurePointer Structure, void *Context) {
  FirstStructures *first = static_cast<FirstStructures *>(Context);
  uint8_t type = Structure.Hdr->Type;
  if (type < 4 && first->Of[type].Raw == nullptr) first->Of[type] = Structure;
}

// Where each hardware-ID field lies, in the order of HardwareIdField: the
// structure type and the offset in its formatted area.
struct FieldPlace {
  uint8_t Type;
  uint8_t Offset;
};
constexpr FieldPlace FIELD_PLACES[HWID_FIELD_COUNT] NATURAL_ALIGN(FieldPlace) = {
    {SMBIOS_TYPE_SYSTEM_INFORMATION, SYSTEM_MANUFACTURER_FIELD},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, SYSTEM_FAMILY_FIELD},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, SYSTEM_PRODUCT_FIELD},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, SYSTEM_SKU_FIELD},
    {SMBIOS_TYPE_BIOS_INFORMATION, BIOS_VENDOR_FIELD},
    {SMBIOS_TYPE_BIOS_INFORMATION, BIOS_VERSION_FIELD_OFFSET},
    {SMBIOS_TYPE_BIOS_INFORMATION, BIOS_MAJOR_RELEASE_OFFSET},
    {SMBIOS_TYPE_BIOS_INFORMATION, BIOS_MINOR_RELEASE_OFFSET},
    {SMBIOS_TYPE_SYSTEM_ENCLOSURE, ENCLOSURE_TYPE_OFFSET},
    {SMBIOS_TYPE_BASEBOARD_INFORMATION, BASEBOARD_MANUFACTURER_FIELD},
    {SMBIOS_TYPE_BASEBOARD_INFORMATION, BASEBOARD_PRODUCT_FIELD},
};

}  // namespace

void FindFirstStructures(SmbiosWalk Walk, uint16_t DeclaredCount, FirstStructures *First) {
  *First = FirstStructures{};
  Walk(DeclaredCount, KeepFirst, First);
}

void ReadHardwareIdFields(const FirstStructures *First, HardwareIdFields *Fields) {
  // A field's Length and byte text are set with its Text, and read only then.
  for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
    SmbiosStructurePointer s = First->Of[FIELD_PLACES[i].Type];
    uint8_t offset = FIELD_PLACES[i].Offset;
    Fields->Text[i] = nullptr;
    if (s.Raw == nullptr) continue;
    if (IsHardwareIdByteField(i)) {
      if (s.Hdr->Length > offset) SetHardwareIdByte(Fields, i, s.Raw[offset]);
    } else {
      SetHardwareIdText(Fields, i, GetSmbiosFieldString(s, offset));
    }
  }
}

BiosVersionField ReadBiosVersionField(SmbiosStructurePointer Structure) {
  BiosVersionField field;
  field.Held = Structure.Hdr->Length > BIOS_VERSION_FIELD_OFFSET;
  field.Number = field.Held ? Structure.Raw[BIOS_VERSION_FIELD_OFFSET] : 0;
  field.Text = GetSmbiosFieldString(Structure, BIOS_VERSION_FIELD_OFFSET);
  return field;
}

const char *ReadInstalledVersionString(SmbiosStructurePointer Structure) {
  // A copy of the cursor: looking up a missing string moves it.
  SmbiosStructurePointer cursor = Structure;
  return GetSmbiosString(&cursor, 2);
}

const char *InstalledVersionFor(SmbiosStructurePointer Structure, bool Segments) {
  // The BIOS Version field's string is ReadBiosVersionField's Text.
  if (Segments) return GetSmbiosFieldString(Structure, BIOS_VERSION_FIELD_OFFSET);
  return ReadInstalledVersionString(Structure);
}

bool ProductNameOf(const FirstStructures *First, const char **Product) {
  SmbiosStructurePointer system = First->Of[SMBIOS_TYPE_SYSTEM_INFORMATION];
  if (system.Raw == nullptr) return false;
  const char *product = GetSmbiosFieldString(system, SYSTEM_PRODUCT_FIELD);
  *Product = product != nullptr ? product : "";
  return true;
}

bool FindProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const char **Product) {
  FirstStructures first;
  FindFirstStructures(Walk, DeclaredCount, &first);
  return ProductNameOf(&first, Product);
}
