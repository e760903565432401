// What the run record needs from the firmware: the clock, and a file that a
// whole line is appended to.
#pragma once

#include "platform/efi.h"

// The firmware clock through the runtime services. False when there is no
// clock or it cannot be read.
bool ReadFirmwareClock(EFI_TIME *Time);

// Where appending a line failed.
enum class AppendStep { Open, Position, Write, Flush, Close };

// Appends a line to the file Name (created when missing) through the shell
// file layer, then flushes and closes it. Line holds Length bytes: an LF
// first, then the line itself ending in LF. The leading LF is written only
// when the file does not already end in one, so a line left broken by an
// earlier failed write never runs into this one. The file is closed
// whatever happened. EFI_SUCCESS, or the failing status with *Step set.
EFI_STATUS AppendLineToFile(const CHAR16 *Name, const char *Line, UINTN Length, AppendStep *Step);
