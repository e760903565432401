// The character classes the rules share: a blank (space or tab) and a
// space in the C sense (blank, LF, VT, FF, CR), for 8-bit text; and the
// control characters a text from the data must not carry raw onto a
// terminal or a page.
#pragma once

#include <stdint.h>

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// C0, DEL and C1 (U+0080 to U+009F, whose CSI and OSC a terminal obeys as
// it obeys ESC [), by code point.
inline bool IsControlCharacter(uint32_t Code) {
  return Code < 0x20 || (Code >= 0x7F && Code <= 0x9F);
}
