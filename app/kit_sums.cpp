// SHA256SUMS lines. Everything in the file is untrusted: a path must stay
// inside the kit's folder and be a name the shell can open, and one file
// listed twice could carry two digests, so either is a line that cannot be
// read rather than a guess.
#include "app/kit_sums.h"

namespace {

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c == '\\' ? '/' : c;
}

// No '\', no control character, no empty, "." or ".." name.
bool IsKitPath(const char *path, size_t length) {
  if (length > SUMS_PATH_LIMIT) return false;
  size_t name = 0;  // bytes of the current name
  unsigned dots = 0;
  for (size_t i = 0; i <= length; ++i) {
    unsigned char c = i < length ? static_cast<unsigned char>(path[i]) : '/';
    if (c == '/') {
      if (name == 0 || dots == name) return false;  // "", "." or ".." (or "...")
      name = dots = 0;
    } else if (c < 0x20 || c == 0x7F || c == '\\') {
      return false;
    } else {
      ++name;
      dots += c == '.';
    }
  }
  return true;
}

}  // namespace

bool SamePath(const char *Listed, const char *Path) {
  for (; *Listed != '\0'; ++Listed, ++Path) {
    if (FoldCase(*Listed) != FoldCase(*Path)) return false;
  }
  return *Path == '\0';
}

unsigned ParseKitSums(char *Text, size_t Size, bool Cut, SumsEntry *Entries, unsigned *Count) {
  *Count = 0;
  unsigned line = 0;
  size_t at = 0;
  while (at < Size) {
    ++line;
    size_t end = at;
    while (end < Size && Text[end] != '\n') ++end;
    if (line > SUMS_LINE_LIMIT || (end == Size && Cut)) return line;
    size_t stop = end > at && Text[end - 1] == '\r' ? end - 1 : end;
    char *form = Text + at;
    if (stop - at < 67 || form[64] != ' ' || (form[65] != ' ' && form[65] != '*')) return line;
    for (int i = 0; i < 64; ++i) {
      char c = form[i];
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return line;
    }
    char *path = form + 66;
    if (!IsKitPath(path, Text + stop - path)) return line;
    Text[stop] = '\0';
    for (unsigned i = 0; i < *Count; ++i) {
      if (SamePath(Entries[i].Path, path)) return line;
    }
    Entries[*Count] = SumsEntry{form, path};
    ++*Count;
    at = end + 1;
  }
  // The file ended right after a whole line but went on past the bound.
  return Cut ? line + 1 : 0;
}
