// Quoting texts in console messages, and the one reading of UTF-8 that the
// record and the hardware IDs share.
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

int Utf8SequenceLength(const unsigned char *Text, size_t Left) {
  unsigned char c = Text[0];
  int length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (length == 0 || static_cast<size_t>(length) > Left) return 0;
  for (int i = 1; i < length; ++i) {
    if ((Text[i] & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  unsigned char second = Text[1];
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) ||
      (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
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
