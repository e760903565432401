// The standard C names of the library subset, exported for the image only:
// the compiler emits calls to memcpy, memset and friends on its own, and
// the host build keeps the host C library under these names.
#include "libc/stdio.h"
#include "libc/stdlib.h"
#include "libc/string.h"

extern "C" {
size_t strlen(const char *s) { return libc::strlen(s); }
size_t strcspn(const char *s, const char *reject) { return libc::strcspn(s, reject); }
int strcmp(const char *a, const char *b) { return libc::strcmp(a, b); }
int memcmp(const void *a, const void *b, size_t n) { return libc::memcmp(a, b, n); }
void *memcpy(void *dst, const void *src, size_t n) { return libc::memcpy(dst, src, n); }
void *memset(void *dst, int c, size_t n) { return libc::memset(dst, c, n); }
void *memmove(void *dst, const void *src, size_t n) { return libc::memmove(dst, src, n); }
const char *strerror(int error) { return libc::strerror(error); }

void *malloc(size_t size) { return libc::malloc(size); }
void *calloc(size_t count, size_t size) { return libc::calloc(count, size); }
void free(void *block) { libc::free(block); }
[[noreturn]] void abort() { libc::abort(); }

libc::FILE *fopen(const char *name, const char *mode) { return libc::fopen(name, mode); }
int fclose(libc::FILE *stream) { return libc::fclose(stream); }
int fseek(libc::FILE *stream, long offset, int whence) {
  return libc::fseek(stream, offset, whence);
}
long ftell(libc::FILE *stream) { return libc::ftell(stream); }
size_t fread(void *buffer, size_t size, size_t count, libc::FILE *stream) {
  return libc::fread(buffer, size, count, stream);
}
char *fgets(char *buffer, int size, libc::FILE *stream) {
  return libc::fgets(buffer, size, stream);
}
int feof(libc::FILE *stream) { return libc::feof(stream); }
int ferror(libc::FILE *stream) { return libc::ferror(stream); }
int fputs(const char *text, libc::FILE *stream) { return libc::fputs(text, stream); }
int fflush(libc::FILE *stream) { return libc::fflush(stream); }
}
