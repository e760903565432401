// A kit's SHA256SUMS, in the text form "sha256sum -c" reads: a line per
// file, 64 lower-case hex digits, a blank, a blank or '*', and the file's
// path from the kit's folder with '/' between names. Pure: the bytes in,
// the list out, or the number of the first line that cannot be read.
#pragma once

#include <stddef.h>

constexpr unsigned SUMS_LINE_LIMIT = 4096;
constexpr size_t SUMS_SIZE_LIMIT = 1024 * 1024;
// Bytes of one listed path; the image opens it after the kit's folder.
constexpr size_t SUMS_PATH_LIMIT = 1023;

struct SumsEntry {
  const char *Digest;  // 64 lower-case hex digits, in the parsed text
  const char *Path;    // in the parsed text, NUL-terminated
};

// Parses Text (Size bytes and room for one more; changed in place: each
// path gets its NUL) into Entries, which holds SUMS_LINE_LIMIT. Cut tells
// that the file went on past Size. Returns 0, with *Count set, or the
// 1-based number of the first line that cannot be read: a bad form; a path
// that begins with '/', holds '\', a control character, an empty, "." or
// ".." name, is longer than SUMS_PATH_LIMIT or is listed before (ASCII
// case ignored, as FAT does); a line past SUMS_LINE_LIMIT; the line that
// Cut leaves unfinished.
unsigned ParseKitSums(char *Text, size_t Size, bool Cut, SumsEntry *Entries, unsigned *Count);

// Whether Path ('/' or '\' between names) names the same file as Listed,
// ASCII case ignored.
bool SamePath(const char *Listed, const char *Path);

// The entry of the first Count of Entries that lists Path, or null.
const SumsEntry *FindSumsEntry(const SumsEntry *Entries, unsigned Count, const char *Path);
