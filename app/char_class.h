// The character classes the rules share: a blank (space or tab) and a
// space in the C sense (blank, LF, VT, FF, CR), for 8-bit text.
#pragma once

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
