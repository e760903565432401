// Computing the hardware IDs. Each ID hashes the namespace's 16 bytes and
// then its joined fields as UTF-16LE without a terminator; SMBIOS strings
// are bytes, read as UTF-8, with a byte that begins no valid sequence taken
// as the character of the same number (what an old Latin-1 string means).
#include "app/hardware_ids.h"

#include "app/char_class.h"
#include "app/sha1.h"
#include "app/shown_text.h"
#include "platform/console.h"
#include "platform/image_inline.h"
#include "platform/natural_align.h"
#include "platform/utf8.h"

namespace {

const char FIELD_NAMES[] NATURAL_ALIGN(char) =
    "Manufacturer\0Family\0ProductName\0ProductSku\0BiosVendor\0BiosVersion\0"
    "BiosMajorRelease\0BiosMinorRelease\0EnclosureKind\0BaseboardManufacturer\0"
    "BaseboardProduct";

// The fields each ID joins, one bit per HardwareIdField.
constexpr uint16_t M = 1 << HWID_MANUFACTURER, F = 1 << HWID_FAMILY, P = 1 << HWID_PRODUCT_NAME,
                   S = 1 << HWID_PRODUCT_SKU, BIOS = 0xF << HWID_BIOS_VENDOR,
                   E = 1 << HWID_ENCLOSURE_KIND, BOARD = 3 << HWID_BASEBOARD_MANUFACTURER;
constexpr uint16_t ID_FIELDS[HARDWARE_ID_COUNT] NATURAL_ALIGN(uint16_t) = {
    M | F | P | S | BIOS, M | F | P | BIOS, M | P | BIOS, M | F | P | S | BOARD, M | F | P | S,
    M | F | P,            M | S | BOARD,    M | S,        M | P | BOARD,         M | P,
    M | F | BOARD,        M | F,            M | E,        M | BOARD,             M,
};

// 70ffd812-4c7f-4c7d-0000-000000000000, in the order the text shows.
const uint8_t NAMESPACE[HARDWARE_ID_SIZE] NATURAL_ALIGN(uint8_t) = {
    0x70, 0xff, 0xd8, 0x12, 0x4c, 0x7f, 0x4c, 0x7d};


void AddUnit(Sha1 *hash, uint32_t unit) {
  uint8_t bytes[2] = {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)};
  Sha1Add(hash, bytes, 2);
}

// Text as UTF-16LE.
void AddText(Sha1 *hash, const char *text, size_t length) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (length > 0) {
    // A byte that begins no character counts as the unit of its value.
    Utf8Char read = ReadUtf8(p, length);
    int n = read.Length > 0 ? read.Length : 1;
    uint32_t c = read.Code;
    if (c > 0xFFFF) {
      AddUnit(hash, HighSurrogate(c));
      c = LowSurrogate(c);
    }
    AddUnit(hash, c);
    p += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

bool IsHardwareIdByteField(int Field) {
  return Field >= HWID_BIOS_MAJOR_RELEASE && Field <= HWID_ENCLOSURE_KIND;
}

void SetHardwareIdText(HardwareIdFields *Fields, int Field, const char *Text) {
  Fields->Text[Field] = nullptr;
  if (Text == nullptr) return;
  const char *end = Text;
  while (*end != '\0') ++end;
  while (end > Text && IsSpace(end[-1])) --end;
  while (Text < end && IsSpace(*Text)) ++Text;
  while (Text < end && *Text == '0') ++Text;
  Fields->Text[Field] = Text;
  Fields->Length[Field] = static_cast<size_t>(end - Text);
}

void SetHardwareIdByte(HardwareIdFields *Fields, int Field, uint8_t Value) {
  char *text = Fields->ByteText[Field];
  text[0] = HEX_DIGITS[Value >> 4];
  text[1] = HEX_DIGITS[Value & 0xF];
  size_t skip = Field == HWID_ENCLOSURE_KIND && Value < 0x10 ? 1 : 0;
  Fields->Text[Field] = text + skip;
  Fields->Length[Field] = 2 - skip;
}

void ComputeHardwareIds(const HardwareIdFields *Fields, HardwareIds *Ids) {
  for (int id = 0; id < HARDWARE_ID_COUNT; ++id) {
    unsigned joined = ID_FIELDS[id];
    // Hashed whatever the fields: an ID with an absent field is dropped
    // at the end, which costs less code than a pass to find it first.
    bool present = true;
    Sha1 hash;
    Sha1Start(&hash);
    Sha1Add(&hash, NAMESPACE, HARDWARE_ID_SIZE);
    for (int field = 0; field < HWID_FIELD_COUNT; ++field) {
      if ((joined >> field & 1) == 0) continue;
      if (Fields->Text[field] == nullptr) present = false;
      if (present) AddText(&hash, Fields->Text[field], Fields->Length[field]);
      // The '&' after every field but the last.
      if (joined >> (field + 1) != 0) AddUnit(&hash, '&');
    }
    Ids->Present[id] = present;
    if (!present) continue;
    uint8_t *out = Ids->Id[id];
    Sha1Finish(&hash, out, HARDWARE_ID_SIZE);
    out[6] = static_cast<uint8_t>((out[6] & 0x0F) | 0x50);  // version 5
    out[8] = static_cast<uint8_t>((out[8] & 0x3F) | 0x80);  // variant 10
  }
}

const char *HardwareIdFieldName(int Field) { return NthText(FIELD_NAMES, static_cast<UINTN>(Field)); }

void ListHardwareIdFields(int Index, char List[HARDWARE_ID_FIELD_LIST_SIZE]) {
  char *at = List;
  const char *name = FIELD_NAMES;  // the names in field order, each after the last one's NUL
  for (int field = 0; field < HWID_FIELD_COUNT; ++field, ++name) {
    bool joined = (ID_FIELDS[Index] >> field & 1) != 0;
    if (joined && at != List) *at++ = '&';
    for (; *name != '\0'; ++name) {
      if (joined) *at++ = *name;
    }
  }
  *at = '\0';
}

IMAGE_INLINE void FormatHardwareId(const uint8_t Id[HARDWARE_ID_SIZE],
                                  char Text[HARDWARE_ID_TEXT_SIZE]) {
  // The bytes in order; a version-5 ID is never all 00 or all FF bytes.
  FormatSmbiosUuid(Id, false, Text);
}

bool ParseHardwareId(const char *Text, size_t Length, uint8_t Id[HARDWARE_ID_SIZE]) {
  if (Length == HARDWARE_ID_TEXT_SIZE + 1 && Text[0] == '{' && Text[Length - 1] == '}') {
    ++Text;
    Length -= 2;
  }
  if (Length != HARDWARE_ID_TEXT_SIZE - 1) return false;
  unsigned digits = 0;
  for (size_t i = 0; i < Length; ++i) {
    char c = Text[i];
    // The dashes stand after 8, 12, 16 and 20 digits: at 8, 13, 18 and 23.
    if ((0x842100ull >> i & 1) != 0) {
      if (c != '-') return false;
      continue;
    }
    char lower = static_cast<char>(c | 0x20);  // the letters of either case
    unsigned value = c >= '0' && c <= '9'           ? unsigned(c - '0')
                     : lower >= 'a' && lower <= 'f' ? unsigned(lower - 'a' + 10)
                                                    : 16;
    if (value > 15) return false;
    Id[digits / 2] = static_cast<uint8_t>(Id[digits / 2] << 4 | value);
    ++digits;
  }
  return true;
}
