// Storage for the program-wide platform references and the GUID comparison
// that every lookup shares.
#include "platform/globals.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;
EFI_RUNTIME_SERVICES *gRT = nullptr;

bool GuidEquals(const EFI_GUID *a, const EFI_GUID *b) {
  const uint8_t *x = reinterpret_cast<const uint8_t *>(a);
  const uint8_t *y = reinterpret_cast<const uint8_t *>(b);
  for (size_t i = 0; i < sizeof(EFI_GUID); ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}
