// String and memory functions of the C library subset.
#pragma once

#include <stddef.h>

namespace libc {

size_t strlen(const char *s);
size_t strcspn(const char *s, const char *reject);
int memcmp(const void *a, const void *b, size_t n);
void *memcpy(void *dst, const void *src, size_t n);
void *memset(void *dst, int c, size_t n);
void *memmove(void *dst, const void *src, size_t n);

}  // namespace libc
