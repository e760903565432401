// Texts from the firmware or UpdateConfig.ini as a console message quotes
// them. Both sources can hold anything: control bytes would move the cursor
// or clear the screen under the message, and a 64 KiB string would push the
// rest of the line out of the console's 320 characters.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr int SHOWN_TEXT_LIMIT = 64;
constexpr int SHOWN_TEXT_SIZE = SHOWN_TEXT_LIMIT + 3 + 1;  // "..." and the NUL

// Copies Text into Shown with bytes below 0x20 and 0x7F as '?', cut after
// 64 bytes with "..." added. Returns Shown.
const char *ShowText(const char *Text, char Shown[SHOWN_TEXT_SIZE]);

// The same of the first Length bytes of Text at most (it need not end in a
// NUL there).
const char *ShowTextPart(const char *Text, size_t Length, char Shown[SHOWN_TEXT_SIZE]);

// Lower-case hex digits by value, for every text that shows bytes as hex.
extern const char HEX_DIGITS[17];

constexpr int UUID_TEXT_SIZE = 37;  // 8-4-4-4-12 and the NUL

// The System Information UUID (16 bytes at offset 0x08) as Linux shows it:
// lower-case hex, 8-4-4-4-12, its first three fields little-endian from
// SMBIOS 2.6 on (LittleEndian) and in byte order before. False when the
// bytes are all 00 or all FF, which mean "not set".
bool FormatSmbiosUuid(const uint8_t Bytes[16], bool LittleEndian, char Text[UUID_TEXT_SIZE]);
