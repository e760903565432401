// UTF-16 to UTF-8, for the arguments the shell hands over and the folder
// names the kit choice records: one conversion for both.
#include "platform/utf8.h"

size_t Utf16ToUtf8(const CHAR16 *Text, char *Target, size_t Limit, bool StopAtSurrogate) {
  size_t length = 0;
  for (const CHAR16 *unit = Text; *unit != 0; ++unit) {
    UINT32 code = *unit;
    if (StopAtSurrogate && code >= 0xD800 && code <= 0xDFFF) break;
    size_t bytes = code < 0x80 ? 1 : (code < 0x800 ? 2 : 3);
    if (length + bytes > Limit) break;
    // Continuation bytes from the last one back, six bits each; then the
    // lead byte, marked with the sequence's length.
    for (size_t i = bytes - 1; Target != nullptr && i > 0; --i) {
      Target[length + i] = static_cast<char>(0x80 | (code & 0x3F));
      code >>= 6;
    }
    if (Target != nullptr) {
      Target[length] = static_cast<char>(bytes == 1 ? code : ((0xF00 >> bytes) & 0xFF) | code);
    }
    length += bytes;
  }
  return length;
}
