// The segment rule. Both texts are walked token by token in step, so the
// comparison needs no copy of either, and numbers are compared in place, so
// a number of any length is ordered without converting it.
#include "app/version_segments.h"

#include <stddef.h>

namespace {

enum Kind { SEPARATOR, DIGIT, LETTER };

// Out of line: the walk asks it at several places. The NUL is a separator.
__attribute__((noinline)) Kind KindOf(char c) {
  if (c >= '0' && c <= '9') return DIGIT;
  char lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'z' ? LETTER : SEPARATOR;
}

// One token of a text: a number without its leading zeros, or a word;
// SEPARATOR when the text has no token left.
struct Token {
  Kind kind;
  const char *start;
  size_t length;
};

// Reads the token at or after Text's separators; returns where it ends.
const char *ReadToken(const char *text, Token *token) {
  while (*text != '\0' && KindOf(*text) == SEPARATOR) ++text;
  token->kind = KindOf(*text);
  if (token->kind == DIGIT) {
    while (*text == '0') ++text;
  }
  token->start = text;
  while (token->kind != SEPARATOR && KindOf(*text) == token->kind) ++text;
  token->length = static_cast<size_t>(text - token->start);
  return text;
}

}  // namespace

SegmentComparison CompareVersionSegments(const char *Installed, const char *Configured) {
  const char *a = Installed;
  const char *b = Configured;
  int order = 0;  // decided by the first unequal pair of numbers
  bool any_token = false;
  for (;; any_token = true) {
    Token x;
    Token y;
    a = ReadToken(a, &x);
    b = ReadToken(b, &y);
    // A different number or kind of tokens is another scheme, whatever
    // came before; two texts without a digit or a letter hold no version.
    if (x.kind != y.kind) return SegmentComparison::NotComparable;
    if (x.kind == SEPARATOR) break;
    // Numbers by value, of any length: leading zeros gone, the longer run
    // is the larger number, and equal lengths compare digit by digit.
    // Words compare the same way, ASCII case ignored ('|' 0x20 leaves a
    // digit as it is), and any difference makes them another scheme.
    // Only the sign of `first` counts; a token is ASCII, so a difference of
    // bytes has the same sign whether char is signed or not.
    int first = (x.length > y.length) - (x.length < y.length);
    for (size_t i = 0; first == 0 && i < x.length; ++i) {
      first = (x.start[i] | 0x20) - (y.start[i] | 0x20);
    }
    if (first != 0 && x.kind == LETTER) return SegmentComparison::NotComparable;
    if (order == 0) order = first;
  }
  if (!any_token) return SegmentComparison::NotComparable;
  // Below, Equal and Above are 0, 1 and 2: the count of the two tests that
  // hold.
  static_assert(int(SegmentComparison::Below) == 0 && int(SegmentComparison::Equal) == 1 &&
                    int(SegmentComparison::Above) == 2,
                "a comparison is a count");
  return static_cast<SegmentComparison>((order >= 0) + (order > 0));
}
