// Quoting texts in console messages.
#include "app/shown_text.h"

#include "platform/natural_align.h"

const char *ShowTextPart(const char *Text, size_t Length, char Shown[SHOWN_TEXT_SIZE]) {
  size_t n = 0;
  for (; n < Length && Text[n] != '\0' && n < SHOWN_TEXT_LIMIT; ++n) {
    unsigned char c = static_cast<unsigned char>(Text[n]);
    Shown[n] = c < 0x20 || c == 0x7F ? '?' : Text[n];
  }
  if (n < Length && Text[n] != '\0') {
    Shown[n++] = '.';
    Shown[n++] = '.';
    Shown[n++] = '.';
  }
  Shown[n] = '\0';
  return Shown;
}

const char *ShowText(const char *Text, char Shown[SHOWN_TEXT_SIZE]) {
  return ShowTextPart(Text, static_cast<size_t>(-1), Shown);
}

const char HEX_DIGITS[17] NATURAL_ALIGN(char) = "0123456789abcdef";

bool FormatSmbiosUuid(const uint8_t Bytes[16], bool LittleEndian, char Text[UUID_TEXT_SIZE]) {
  // All 00 bytes when no bit is set anywhere, all FF when every bit is.
  unsigned any = 0;
  unsigned all = 0xFF;
  for (int i = 0; i < 16; ++i) {
    any |= Bytes[i];
    all &= Bytes[i];
  }
  if (any == 0 || all == 0xFF) return false;
  static const uint8_t SWAPPED[16] NATURAL_ALIGN(uint8_t) = {
      3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  int n = 0;
  for (int i = 0; i < 16; ++i) {
    // Dashes before bytes 4, 6, 8 and 10, as a mask.
    if ((0x550 >> i & 1) != 0) Text[n++] = '-';
    uint8_t byte = Bytes[LittleEndian ? SWAPPED[i] : i];
    Text[n++] = HEX_DIGITS[byte >> 4];
    Text[n++] = HEX_DIGITS[byte & 0xF];
  }
  Text[n] = '\0';
  return true;
}
