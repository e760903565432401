// The standard C names of the library subset, exported for the image only:
// the compiler emits calls to memcpy, memset and friends on its own, and
// the host build keeps the host C library under these names.
#include "libc/stdio.h"
#include "libc/string.h"

extern "C" {
size_t strlen(const char *s) { return libc::strlen(s); }
size_t strcspn(const char *s, const char *reject) { return libc::strcspn(s, reject); }
int memcmp(const void *a, const void *b, size_t n) { return libc::memcmp(a, b, n); }
void *memcpy(void *dst, const void *src, size_t n) { return libc::memcpy(dst, src, n); }
void *memset(void *dst, int c, size_t n) { return libc::memset(dst, c, n); }
void *memmove(void *dst, const void *src, size_t n) { return libc::memmove(dst, src, n); }
}
