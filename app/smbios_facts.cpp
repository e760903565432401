// Reading the version strings and the product name in place, through the
// SMBIOS string lookups that bound every read by the structure table.
#include "app/smbios_facts.h"

#include "smbios/structure_table.h"

namespace {

constexpr uint8_t PRODUCT_NAME_FIELD = 0x05;  // System Information

struct Search {
  bool found;
  SmbiosStructurePointer structure;
};

void FindFirstSystemInformation(SmbiosStructurePointer Structure, void *Context) {
  Search *search = static_cast<Search *>(Context);
  if (search->found || Structure.Hdr->Type != SMBIOS_TYPE_SYSTEM_INFORMATION) return;
  search->found = true;
  search->structure = Structure;
}

}  // namespace

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

bool FindProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const char **Product) {
  Search search = {false, {nullptr}};
  Walk(DeclaredCount, FindFirstSystemInformation, &search);
  if (!search.found) return false;
  const char *product = GetSmbiosFieldString(search.structure, PRODUCT_NAME_FIELD);
  *Product = product != nullptr ? product : "";
  return true;
}
