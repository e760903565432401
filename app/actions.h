// Acting on the decision: what the run has the shell do.
#pragma once

#include "platform/efi.h"

// Has the shell run Script, with ImageHandleCopy as the parent, and waits
// for it. The script's own outcome belongs to the script; it is not
// examined. Returns the shell's own status: an error when it refused to
// start the command at all.
EFI_STATUS RunUpdateScript(EFI_HANDLE *ImageHandleCopy, const char16_t *Script);

// Whether the shell finds Script in its current directory, where the kit
// keeps it beside UpdateConfig.ini: the status of opening it for reading.
EFI_STATUS FindUpdateScript(const char16_t *Script);

// Makes the kit's folder (Path, relative to the shell's current directory)
// the shell's current directory. False, with the directory as it was, when
// the shell refused.
bool EnterKitFolder(const char16_t *Path);
