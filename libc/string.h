// String and memory functions of the C library subset.
#pragma once

#include <stddef.h>

namespace libc {

size_t strlen(const char *s);
size_t strcspn(const char *s, const char *reject);
int strcmp(const char *a, const char *b);
int memcmp(const void *a, const void *b, size_t n);
void *memcpy(void *dst, const void *src, size_t n);
void *memset(void *dst, int c, size_t n);
void *memmove(void *dst, const void *src, size_t n);

// The text for an error number; never null. Defined with the error number
// in libc/errno.cpp.
const char *strerror(int error);

}  // namespace libc
