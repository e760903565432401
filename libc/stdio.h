// Streams of the C library subset: read-only files opened by name through
// the shell access layer, with a read buffer so that seeks within buffered
// bytes cost no firmware call.
#pragma once

#include <stddef.h>

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif
#ifndef EOF
#define EOF (-1)
#endif

namespace libc {

struct FILE;

FILE *fopen(const char *name, const char *mode);
int fseek(FILE *stream, long offset, int whence);
long ftell(FILE *stream);
size_t fread(void *buffer, size_t size, size_t count, FILE *stream);
char *fgets(char *buffer, int size, FILE *stream);
int fclose(FILE *stream);

}  // namespace libc
