// The machine's hardware IDs: fifteen name-based (version 5) UUIDs, each the
// SHA-1 of a fixed namespace and a fixed combination of SMBIOS fields joined
// with '&', from the most specific (maker, family, product, SKU, BIOS) to
// the most general (the maker alone). Makers and update services key
// firmware by them, and admins read them off running systems with the tools
// they have; a kit keyed by them serves exactly the machines those tools
// name. Pure: prepared texts in, IDs out. Where the fields lie in the
// SMBIOS data is app/smbios_facts.h's business.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The fields, in the order every ID joins them.
enum HardwareIdField {
  HWID_MANUFACTURER,
  HWID_FAMILY,
  HWID_PRODUCT_NAME,
  HWID_PRODUCT_SKU,
  HWID_BIOS_VENDOR,
  HWID_BIOS_VERSION,
  HWID_BIOS_MAJOR_RELEASE,  // these three are bytes, written as hex
  HWID_BIOS_MINOR_RELEASE,
  HWID_ENCLOSURE_KIND,
  HWID_BASEBOARD_MANUFACTURER,
  HWID_BASEBOARD_PRODUCT,
  HWID_FIELD_COUNT
};
constexpr int HARDWARE_ID_COUNT = 15;
constexpr int HARDWARE_ID_SIZE = 16;
// 8-4-4-4-12 hex digits and the NUL.
constexpr int HARDWARE_ID_TEXT_SIZE = 37;
// Every field name of the longest ID, joined with '&', and the NUL.
constexpr int HARDWARE_ID_FIELD_LIST_SIZE = 160;
// The most bytes of a HardwareIds= list that are read; a longer list is
// refused rather than read in part.
constexpr size_t HARDWARE_ID_LIST_LIMIT = 1023;

// The prepared fields: Text (Length bytes, not NUL-terminated) or null for
// an absent field. Text fields lose white space at both ends, then their
// leading '0' characters; the release bytes are two lower-case hex digits
// and the enclosure byte lower-case hex without leading zeros.
struct HardwareIdFields {
  const char *Text[HWID_FIELD_COUNT];
  size_t Length[HWID_FIELD_COUNT];
  char ByteText[HWID_FIELD_COUNT][2];  // a byte field's text, by field (two digits, no NUL)
};

struct HardwareIds {
  bool Present[HARDWARE_ID_COUNT];  // false when a field it joins is absent
  uint8_t Id[HARDWARE_ID_COUNT][HARDWARE_ID_SIZE];
};

bool IsHardwareIdByteField(int Field);
// Field from an SMBIOS string (null: absent), or from a byte.
void SetHardwareIdText(HardwareIdFields *Fields, int Field, const char *Text);
void SetHardwareIdByte(HardwareIdFields *Fields, int Field, uint8_t Value);

// HardwareID-0 to HardwareID-14 of the fields.
void ComputeHardwareIds(const HardwareIdFields *Fields, HardwareIds *Ids);

// The field names ("Manufacturer", ...), and the fields ID Index joins, as
// "Manufacturer&ProductSku".
const char *HardwareIdFieldName(int Field);
void ListHardwareIdFields(int Index, char List[HARDWARE_ID_FIELD_LIST_SIZE]);

// 8-4-4-4-12 lower-case hex, the bytes in order.
void FormatHardwareId(const uint8_t Id[HARDWARE_ID_SIZE], char Text[HARDWARE_ID_TEXT_SIZE]);
// An ID as a kit writes it: 8-4-4-4-12 hex digits, upper or lower case,
// optionally in one pair of braces, nothing else. False for anything else.
bool ParseHardwareId(const char *Text, size_t Length, uint8_t Id[HARDWARE_ID_SIZE]);
