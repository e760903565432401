// The library's allocator: a thin layer over the boot services pool. The
// pool already keeps each block's size, so no header of our own is needed.
#include "libc/stdlib.h"

#include "libc/errno.h"
#include "libc/string.h"
#include "platform/globals.h"

namespace libc {

void *malloc(size_t size) {
  if (size == 0) return nullptr;
  void *block = nullptr;
  if (gBS == nullptr) {
    RecordCheckFailure(LIBC_ENOMEM);
    return nullptr;
  }
  EFI_STATUS status = gBS->AllocatePool(EfiLoaderData, size, &block);
  if (EFI_ERROR(status) || block == nullptr) {
    RecordCheckFailure(LIBC_ENOMEM);
    return nullptr;
  }
  return block;
}

void *calloc(size_t count, size_t size) {
  // The product's overflow test needs no division.
  size_t total;
  if (__builtin_mul_overflow(count, size, &total)) {
    RecordCheckFailure(LIBC_ENOMEM);
    return nullptr;
  }
  void *block = malloc(total);
  if (block != nullptr) memset(block, 0, total);
  return block;
}

// Every pool block of the image goes back through here. Nothing useful can
// be done when the firmware refuses to take a block back, and no caller
// could act on it: the status is dropped in this one place.
void free(void *block) {
  if (block != nullptr && gBS != nullptr) (void)gBS->FreePool(block);
}

}  // namespace libc
