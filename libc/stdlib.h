// Memory and abnormal end of the C library subset. The allocator hands out
// firmware pool blocks of type EfiLoaderData, which marks them as the
// library's own; every other block of the image is EfiBootServicesData.
#pragma once

#include <stddef.h>

namespace libc {

// A pool block of Size bytes, or null (error number ENOMEM) when the pool
// has none or Size is 0.
void *malloc(size_t size);
// A zeroed block of Count * Size bytes; null when the product overflows.
void *calloc(size_t count, size_t size);
// Gives a block back to the pool; null does nothing.
void free(void *block);

// Ends the run abnormally: the streams are flushed and the image returns
// EFI_ABORTED. Never returns.
[[noreturn]] void abort();

}  // namespace libc
