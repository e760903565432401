// Storage for the program-wide platform references and the GUID comparison
// that every lookup shares.
#include "platform/globals.h"

#include "libc/string.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;
EFI_RUNTIME_SERVICES *gRT = nullptr;

bool GuidEquals(const EFI_GUID *a, const EFI_GUID *b) {
  return libc::memcmp(a, b, sizeof(EFI_GUID)) == 0;
}
