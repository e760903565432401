// Program-wide platform references, recorded once by the image entry (or by
// the simulated firmware on the host) and read everywhere else; and the pool
// allocation the platform files share.
#pragma once

#include "platform/efi.h"

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

// A block of boot services pool, zeroed (pool memory comes back
// uninitialised), or null when the firmware has none or no boot services
// are recorded yet. One copy of the call for every platform file that takes
// a block of its own.
void *AllocateZeroedPool(UINTN Size);
