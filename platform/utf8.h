// UTF-8, the one reading and writing of it: what the image checks in a
// text (the record, the hardware IDs), how the console and the simulated
// firmware decode it, how the report finds broken bytes and cuts a text,
// and the conversions to and from the UTF-16 the firmware speaks.
#pragma once

#include <stddef.h>

#include "platform/efi.h"

// One UTF-8 character as read: Length 1 to 4 with its Code point. Bytes
// that begin no character (a stray, overlong or surrogate form, a code
// point past U+10FFFF) have minus the length of their longest start that
// could have begun one, at least 1: every reader shows those bytes as one
// U+FFFD. A start cut short by the end of the bytes at hand, which the
// next bytes might yet complete, has Length 0. Either has its first byte
// as Code.
struct Utf8Char {
  int Length;
  UINT32 Code;
};

// Reads the character at Text, at most Left (at least 1) bytes.
Utf8Char ReadUtf8(const unsigned char *Text, size_t Left);

// The bytes Read stands for where the text ends after Left bytes: a start
// the end cuts short takes the rest.
inline size_t Utf8Taken(Utf8Char Read, size_t Left) {
  return Read.Length > 0 ? static_cast<size_t>(Read.Length)
         : Read.Length < 0 ? static_cast<size_t>(-Read.Length) : Left;
}

// The surrogate pair that stands for a code point past U+FFFF in UTF-16.
inline UINT32 HighSurrogate(UINT32 Code) { return 0xD7C0 + (Code >> 10); }
inline UINT32 LowSurrogate(UINT32 Code) { return 0xDC00 | (Code & 0x3FF); }

// Bytes of Code as UTF-8 (1 to 4).
inline size_t Utf8Bytes(UINT32 Code) {
  return 1 + (Code >= 0x80) + (Code >= 0x800) + (Code >= 0x10000);
}

// Writes Code as its Bytes of UTF-8 to Target.
void WriteUtf8(UINT32 Code, size_t Bytes, char *Target);

// Of a text longer than Limit bytes, the length of its start of at most
// Limit bytes that does not end inside a character: continuation bytes
// after the cut go with the character they continue.
size_t Utf8CutLength(const unsigned char *Text, size_t Limit);

// UTF-16 text from the firmware (arguments, folder names) in UTF-8, the
// application's own form: whole characters only, at most Limit bytes, up
// to its NUL or with StopAtSurrogate up to its first surrogate unit (half
// of a character beyond U+FFFF); without it each surrogate unit is written as
// the three bytes of its number. Writes the bytes to Target when one is
// given (room for Limit bytes; no NUL is added) and returns their count.
size_t Utf16ToUtf8(const CHAR16 *Text, char *Target, size_t Limit, bool StopAtSurrogate);

// UTF-8 text in UTF-16 as the shell takes a file name, '/' as '\', at
// most Limit units and the NUL added. Bytes that begin no character, and a
// character past U+FFFF, become U+FFFD: a name no file has, where a lax
// reading could turn an overlong form into '.', '/' or '\' and so reach
// outside the folder the name was checked for. Returns the units written.
size_t Utf8ToUtf16(const char *Text, CHAR16 *Target, size_t Limit);
