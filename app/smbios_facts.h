// Reading what the run needs from the SMBIOS structure table: the version
// strings of a BIOS Information structure, the first structure of each of
// the types that describe the machine, and the fields the hardware IDs join.
// This is the one place that knows where those fields lie: the run, the run
// record and the fleet report all read them through it. Nothing here
// decides or prints; an absent string comes back as null.
#pragma once

#include <stdint.h>

#include "app/hardware_ids.h"
#include "smbios/smbios_types.h"
#include "smbios/structure_walk.h"

// BIOS Information (type 0): string fields, then the release bytes.
constexpr uint8_t BIOS_VENDOR_FIELD = 0x04;
constexpr uint8_t BIOS_VERSION_FIELD_OFFSET = 0x05;
constexpr uint8_t BIOS_DATE_FIELD = 0x08;
constexpr uint8_t BIOS_MAJOR_RELEASE_OFFSET = 0x14;
constexpr uint8_t BIOS_MINOR_RELEASE_OFFSET = 0x15;
// System Information (type 1).
constexpr uint8_t SYSTEM_MANUFACTURER_FIELD = 0x04;
constexpr uint8_t SYSTEM_PRODUCT_FIELD = 0x05;
constexpr uint8_t SYSTEM_SERIAL_FIELD = 0x07;
constexpr uint8_t SYSTEM_UUID_OFFSET = 0x08;  // 16 bytes
constexpr uint8_t SYSTEM_SKU_FIELD = 0x19;
constexpr uint8_t SYSTEM_FAMILY_FIELD = 0x1A;
// Base Board Information (type 2).
constexpr uint8_t BASEBOARD_MANUFACTURER_FIELD = 0x04;
constexpr uint8_t BASEBOARD_PRODUCT_FIELD = 0x05;
// System Enclosure (type 3): the enclosure type byte, lock bit included.
constexpr uint8_t ENCLOSURE_TYPE_OFFSET = 0x05;

// The first structure of each of types 0 to 3 (BIOS, System, Base Board,
// Enclosure) in table order; Raw is null for a type the table lacks.
struct FirstStructures {
  SmbiosStructurePointer Of[4];
};
void FindFirstStructures(SmbiosWalk Walk, uint16_t DeclaredCount, FirstStructures *First);

// The fields the hardware IDs join, read from those structures and prepared
// as the IDs take them.
void ReadHardwareIdFields(const FirstStructures *First, HardwareIdFields *Fields);

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

// The version string a rule decides on: the BIOS Version field's string for
// the segment rule, the integer rule's own reading otherwise; null when the
// structure has none.
const char *InstalledVersionFor(SmbiosStructurePointer Structure, bool Segments);

// The Product Name string of the first System Information structure the
// walk meets. False when there is no such structure; "" when it has no
// product string.
bool FindProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const char **Product);
// The same of structures already found.
bool ProductNameOf(const FirstStructures *First, const char **Product);
