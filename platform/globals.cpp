// Storage for the program-wide platform references, the GUID comparison
// that every lookup shares and the platform files' pool allocation.
#include "platform/globals.h"

#include "libc/string.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;
EFI_RUNTIME_SERVICES *gRT = nullptr;

bool GuidEquals(const EFI_GUID *a, const EFI_GUID *b) {
  return libc::memcmp(a, b, sizeof(EFI_GUID)) == 0;
}

void *AllocateZeroedPool(UINTN Size) {
  void *Block = nullptr;
  if (gBS == nullptr || EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size, &Block)) ||
      Block == nullptr) {
    return nullptr;
  }
  libc::memset(Block, 0, Size);
  return Block;
}
