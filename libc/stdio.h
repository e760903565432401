// Streams of the C library subset. Files are read-only and opened by name
// through the shell access layer; each has a read buffer, and a seek to a
// position among the buffered bytes costs no firmware call. Standard output
// and standard error write to the consoles bound to descriptors 1 and 2.
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

// Line-buffered and unbuffered console streams over descriptors 1 and 2.
extern FILE *const stdout;
extern FILE *const stderr;

// Opens a file for reading; Mode is "r" or "rb", Name UTF-8 (characters
// of up to three bytes, as FAT names are) with '/' or '\\' between folders.
// Null with the error number and the last status set when it cannot be
// opened.
FILE *fopen(const char *name, const char *mode);
// Not in the standard: fopen(name, "r") for a name in UTF-16 as the shell's
// own folder listings give it, taken unit for unit.
FILE *fopen_utf16(const char16_t *name);
int fclose(FILE *stream);

// SEEK_SET, SEEK_CUR or SEEK_END (which asks the firmware for the size).
// Clears the end-of-file indicator. A position past the end is allowed;
// reading there gives end of file.
int fseek(FILE *stream, long offset, int whence);
long ftell(FILE *stream);
size_t fread(void *buffer, size_t size, size_t count, FILE *stream);
// At most size - 1 bytes, through the first LF, NUL-terminated.
char *fgets(char *buffer, int size, FILE *stream);
int feof(FILE *stream);
int ferror(FILE *stream);

int fputs(const char *text, FILE *stream);
// Writes out pending console output; null flushes every stream.
int fflush(FILE *stream);

// Library tear-down: closes and releases any stream still open and empties
// the console streams' buffers.
void ReleaseLibraryBuffers();

}  // namespace libc
