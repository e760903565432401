// Console messages: the one routine that writes the application's text to
// the system table's console output, and the status texts behind `%r`.
#pragma once

#include "platform/efi.h"

// Formats a UTF-16 message (directives `%a` for 8-bit text, `%s` for UTF-16
// text, `%d` and `%r`, LF written as CR LF) into a 642-byte pool buffer, at
// most 320 code units, and hands it to ConOut in one OutputString call.
// Returns the code units produced, or 0 when nothing could be produced or
// the console reported an error.
UINT64 ConsolePrint(const CHAR16 *Format, ...);

// Room for a copy of one message: its 320 code units and the NUL.
constexpr size_t CONSOLE_LINE_UNITS = 321;

// When set, each message printed is also copied here as 8-bit text up to
// its line end (the messages are 8-bit texts widened; a unit above 0xFF
// becomes '?'): the run record quotes the last one as the run's error line.
extern CHAR8 *gConsoleLineCopy;

// ConsolePrint with an ASCII format (at most 320 characters), for the
// longer messages of the options.
UINT64 ConsolePrintAscii(const CHAR8 *Format, ...);

// Texts packed one after the other, each ended by its NUL ("a\0b\0c"):
// the text after the first Skip of them. A block of texts costs their
// bytes alone, where a table of pointers costs eight bytes a row more.
const CHAR8 *NthText(const CHAR8 *Texts, UINTN Skip);

// Room for the longest status text and its NUL.
constexpr size_t STATUS_TEXT_SIZE = 32;

// The text `%r` prints for Status. Table rows come back as they stand; any
// other value is formatted as eight upper-case hex digits into Scratch,
// which must hold STATUS_TEXT_SIZE bytes.
const CHAR8 *StatusToText(EFI_STATUS Status, CHAR8 *Scratch);
