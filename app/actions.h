// Acting on the decision: what the run has the shell do.
#pragma once

#include "platform/efi.h"

// Has the shell run Script, with ImageHandleCopy as the parent, and waits
// for it. The script's own outcome belongs to the script; it is not
// examined.
void RunUpdateScript(EFI_HANDLE *ImageHandleCopy, const char16_t *Script);
