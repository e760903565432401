// UTF-8 read and written once for the image and the host tools alike, and
// the conversions to and from UTF-16: the arguments the shell hands over,
// the folder names the kit choice records, the record's file name and the
// paths a kit's SHA256SUMS lists.
#include "platform/utf8.h"

Utf8Char ReadUtf8(const unsigned char *Text, size_t Left) {
  unsigned lead = Text[0];
  if (lead < 0x80) return {1, lead};
  if (lead - 0xC2 > 0xF4 - 0xC2) return {-1, lead};
  int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  UINT32 code = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if (static_cast<size_t>(i) >= Left) return {0, lead};
    unsigned next = Text[i];
    if ((next & 0xC0) != 0x80) return {-i, lead};
    code = code << 6 | (next & 0x3F);
    // The lead's bits and the second byte's tell an overlong form, a
    // surrogate (ED A0 to ED BF) or a code point past U+10FFFF (F4 90 on)
    // before the rest is read: the lead alone is then the broken start.
    if (i == 1 && (length == 3 ? code < 0x20 || (code >= 0x360 && code <= 0x37F)
                               : length == 4 && (code < 0x10 || code > 0x10F))) {
      return {-1, lead};
    }
  }
  return {length, code};
}

void WriteUtf8(UINT32 Code, size_t Bytes, char *Target) {
  // Continuation bytes from the last one back, six bits each; then the
  // lead byte, marked with the sequence's length.
  for (char *at = Target + Bytes - 1; at != Target; --at) {
    *at = static_cast<char>(0x80 | (Code & 0x3F));
    Code >>= 6;
  }
  Target[0] = static_cast<char>(Bytes == 1 ? Code : ((0xF00 >> Bytes) & 0xFF) | Code);
}

size_t Utf8CutLength(const unsigned char *Text, size_t Limit) {
  size_t length = Limit;
  while (length + 3 > Limit && (Text[length] & 0xC0) == 0x80) --length;
  return length;
}

size_t Utf16ToUtf8(const CHAR16 *Text, char *Target, size_t Limit, bool StopAtSurrogate) {
  size_t length = 0;
  for (const CHAR16 *unit = Text; *unit != 0; ++unit) {
    UINT32 code = *unit;
    if (StopAtSurrogate && code >= 0xD800 && code <= 0xDFFF) break;
    size_t bytes = Utf8Bytes(code);
    if (length + bytes > Limit) break;
    if (Target != nullptr) WriteUtf8(code, bytes, Target + length);
    length += bytes;
  }
  return length;
}

size_t Utf8ToUtf16(const char *Text, CHAR16 *Target, size_t Limit) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(Text);
  size_t n = 0;
  while (*p != 0 && n < Limit) {
    // The NUL ends any sequence before it is whole, so four bytes can
    // always be looked at.
    Utf8Char read = ReadUtf8(p, 4);
    UINT32 code = read.Length < 0 || read.Code > 0xFFFF ? 0xFFFD : read.Code;
    if (code == '/') code = '\\';
    Target[n++] = static_cast<CHAR16>(code);
    p += read.Length < 0 ? -read.Length : read.Length;
  }
  Target[n] = 0;
  return n;
}
