// UTF-16 text from the firmware (arguments, folder names) as the UTF-8 the
// application works in.
#pragma once

#include <stddef.h>

#include "platform/efi.h"

// Text in UTF-8, whole characters only, at most Limit bytes: up to its NUL,
// or with StopAtSurrogate up to its first surrogate unit (half of a
// character beyond U+FFFF); without it each surrogate unit is written as
// the three bytes of its number. Writes the bytes to Target when one is
// given (room for Limit bytes; no NUL is added) and returns their count.
size_t Utf16ToUtf8(const CHAR16 *Text, char *Target, size_t Limit, bool StopAtSurrogate);

// UTF-8 text of at most three bytes a character (as FAT names and the
// shell's arguments are) in UTF-16 as the shell takes a file name, '/' as
// '\', at most Limit units and the NUL added. A sequence cut by the NUL
// ends the text there. Returns the units written.
size_t Utf8ToUtf16(const char *Text, CHAR16 *Target, size_t Limit);
