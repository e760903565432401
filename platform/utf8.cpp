// UTF-16 and UTF-8: the arguments the shell hands over, the folder names
// the kit choice records, the record's file name and the paths a kit's
// SHA256SUMS lists. One conversion each way.
#include "platform/utf8.h"

size_t Utf16ToUtf8(const CHAR16 *Text, char *Target, size_t Limit, bool StopAtSurrogate) {
  size_t length = 0;
  for (const CHAR16 *unit = Text; *unit != 0; ++unit) {
    UINT32 code = *unit;
    if (StopAtSurrogate && code >= 0xD800 && code <= 0xDFFF) break;
    size_t bytes = 1 + (code >= 0x80) + (code >= 0x800);
    if (length + bytes > Limit) break;
    if (Target != nullptr) {
      // Continuation bytes from the last one back, six bits each; then the
      // lead byte, marked with the sequence's length.
      for (size_t i = bytes - 1; i > 0; --i) {
        Target[length + i] = static_cast<char>(0x80 | (code & 0x3F));
        code >>= 6;
      }
      Target[length] = static_cast<char>(bytes == 1 ? code : ((0xF00 >> bytes) & 0xFF) | code);
    }
    length += bytes;
  }
  return length;
}

size_t Utf8ToUtf16(const char *Text, CHAR16 *Target, size_t Limit) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(Text);
  size_t n = 0;
  while (*p != 0 && n < Limit) {
    unsigned c = *p++;
    if (c >= 0xE0 && p[0] != 0 && p[1] != 0) {
      c = ((c & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
      p += 2;
    } else if (c >= 0xC0 && p[0] != 0) {
      c = ((c & 0x1F) << 6) | (p[0] & 0x3F);
      p += 1;
    } else if (c == '/') {
      c = u'\\';
    }
    Target[n++] = static_cast<CHAR16>(c);
  }
  Target[n] = 0;
  return n;
}
