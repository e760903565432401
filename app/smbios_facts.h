// Reading what the run needs from the SMBIOS structure table: the version
// strings of a BIOS Information structure and the machine's product name.
// Nothing here decides or prints; an absent string comes back as null.
#pragma once

#include <stdint.h>

#include "smbios/smbios_types.h"
#include "smbios/structure_walk.h"

constexpr uint8_t BIOS_VERSION_FIELD_OFFSET = 0x05;

// The BIOS Version field (offset 0x05) of a BIOS Information structure.
struct BiosVersionField {
  bool Held;       // the formatted area is long enough to hold the field
  uint8_t Number;  // the string number it names (0 when not held)
  const char *Text;  // that string; null when the field is 0 or has no string
};

// The BIOS Version field and the string it names.
BiosVersionField ReadBiosVersionField(SmbiosStructurePointer Structure);

// String 2 of the structure's string-set, which the integer rule reads
// whatever the fields say; null when the set holds fewer strings.
const char *ReadInstalledVersionString(SmbiosStructurePointer Structure);

// The Product Name string of the first System Information structure the
// walk meets. False when there is no such structure; "" when it has no
// product string.
bool FindProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const char **Product);
