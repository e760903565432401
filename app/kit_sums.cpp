// SHA256SUMS lines. Everything in the file is untrusted: a path must stay
// inside the kit's folder and be a name the shell can open, and one file
// listed twice could carry two digests, so either is a line that cannot be
// read rather than a guess.
#include "app/kit_sums.h"

namespace {

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c == '\\' ? '/' : c;
}

// No '\', no control character, no empty, "." or ".." name (nor "...":
// FAT holds no name of dots alone); Path ends at its NUL.
bool IsKitPath(const char *path) {
  size_t name = 0;  // bytes of the current name
  size_t dots = 0;
  for (size_t length = 0;; ++length) {
    unsigned char c = static_cast<unsigned char>(path[length]);
    if (c == '/' || c == '\0') {
      if (name == 0 || dots == name) return false;
      if (c == '\0') return length <= SUMS_PATH_LIMIT;
      name = dots = 0;
    } else if (c < 0x20 || c == 0x7F || c == '\\') {
      return false;
    } else {
      ++name;
      dots += c == '.';
    }
  }
}

}  // namespace

bool SamePath(const char *Listed, const char *Path) {
  for (;; ++Listed, ++Path) {
    char c = FoldCase(*Listed);
    if (c != FoldCase(*Path)) return false;
    if (c == '\0') return true;
  }
}

const SumsEntry *FindSumsEntry(const SumsEntry *Entries, unsigned Count, const char *Path) {
  for (unsigned i = 0; i < Count; ++i) {
    if (SamePath(Entries[i].Path, Path)) return &Entries[i];
  }
  return nullptr;
}

unsigned ParseKitSums(char *Text, size_t Size, bool Cut, SumsEntry *Entries, unsigned *Count) {
  *Count = 0;
  unsigned line = 0;
  char *end = Text + Size;
  for (char *at = Text; at < end;) {
    ++line;
    char *stop = at;
    while (stop < end && *stop != '\n') ++stop;
    if (line > SUMS_LINE_LIMIT || (stop == end && Cut)) return line;
    char *next = stop + 1;
    if (stop > at && stop[-1] == '\r') --stop;
    // The line ends in a NUL from here on, so no check below reads past it.
    *stop = '\0';
    char *form = at;
    for (; form < at + 64; ++form) {
      if (!((*form >= '0' && *form <= '9') || (*form >= 'a' && *form <= 'f'))) return line;
    }
    if (form[0] != ' ' || (form[1] != ' ' && form[1] != '*') || !IsKitPath(form + 2) ||
        FindSumsEntry(Entries, *Count, form + 2) != nullptr) {
      return line;
    }
    Entries[(*Count)++] = SumsEntry{at, form + 2};
    at = next;
  }
  // The file ended right after a whole line but went on past the bound.
  return Cut ? line + 1 : 0;
}
