// String and memory functions, written byte by byte: the image is small and
// the inputs (configuration values, short texts) are a few bytes long.
#include "libc/string.h"

namespace libc {

size_t strlen(const char *s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

size_t strcspn(const char *s, const char *reject) {
  size_t n = 0;
  for (; s[n] != '\0'; ++n) {
    for (const char *r = reject; *r != '\0'; ++r) {
      if (s[n] == *r) return n;
    }
  }
  return n;
}

int strcmp(const char *a, const char *b) {
  const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
  size_t i = 0;
  while (x[i] != '\0' && x[i] == y[i]) ++i;
  return x[i] < y[i] ? -1 : (x[i] > y[i] ? 1 : 0);
}

int memcmp(const void *a, const void *b, size_t n) {
  const unsigned char *x = static_cast<const unsigned char *>(a);
  const unsigned char *y = static_cast<const unsigned char *>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

// memmove's forward copy is this copy: one loop in the image, not two.
void *memcpy(void *dst, const void *src, size_t n) { return memmove(dst, src, n); }

void *memset(void *dst, int c, size_t n) {
  unsigned char *d = static_cast<unsigned char *>(dst);
  for (size_t i = 0; i < n; ++i) {
    d[i] = static_cast<unsigned char>(c);
    // The empty statement keeps this a byte loop: vectorised, with its
    // masked tail, it took half a KiB of the image to clear blocks of a few
    // hundred bytes.
    __asm__ volatile("" ::: "memory");
  }
  return dst;
}

void *memmove(void *dst, const void *src, size_t n) {
  unsigned char *d = static_cast<unsigned char *>(dst);
  const unsigned char *s = static_cast<const unsigned char *>(src);
  if (d < s) {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    for (size_t i = n; i > 0; --i) d[i - 1] = s[i - 1];
  }
  return dst;
}

}  // namespace libc
