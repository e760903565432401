// Program-wide platform references, recorded once by the image entry (or by
// the simulated firmware on the host) and read everywhere else.
#pragma once

#include "platform/efi.h"

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;
