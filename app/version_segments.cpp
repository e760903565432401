// The segment rule. Both texts are walked token by token in step, so the
// comparison needs no copy of either, and numbers are compared in place, so
// a number of any length is ordered without converting it.
#include "app/version_segments.h"

namespace {

enum Kind { kSeparator, kDigit, kLetter };

// Out of line: the walk asks it at a dozen places.
__attribute__((noinline)) Kind KindOf(char c) {
  if (c >= '0' && c <= '9') return kDigit;
  char lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'z' ? kLetter : kSeparator;
}

}  // namespace

SegmentComparison CompareVersionSegments(const char *Installed, const char *Configured) {
  const char *a = Installed;
  const char *b = Configured;
  int order = 0;  // decided by the first unequal pair of numbers
  bool any_token = false;
  for (;; any_token = true) {
    while (*a != '\0' && KindOf(*a) == kSeparator) ++a;
    while (*b != '\0' && KindOf(*b) == kSeparator) ++b;
    Kind kind = *a == '\0' ? kSeparator : KindOf(*a);
    // A different number or kind of tokens is another scheme, whatever
    // came before; two texts without a digit or a letter hold no version.
    if (kind != (*b == '\0' ? kSeparator : KindOf(*b))) return SegmentComparison::NotComparable;
    if (kind == kSeparator) break;
    if (kind == kDigit) {
      // By value, of any length: leading zeros aside, the longer run is
      // the larger number, and equal lengths compare digit by digit.
      while (*a == '0') ++a;
      while (*b == '0') ++b;
      int first = 0;
      for (; KindOf(*a) == kDigit && KindOf(*b) == kDigit; ++a, ++b) {
        if (first == 0 && *a != *b) first = *a < *b ? -1 : 1;
      }
      if (KindOf(*a) == kDigit) first = 1;
      if (KindOf(*b) == kDigit) first = -1;
      while (KindOf(*a) == kDigit) ++a;
      while (KindOf(*b) == kDigit) ++b;
      if (order == 0) order = first;
    } else {
      for (; KindOf(*a) == kLetter && KindOf(*b) == kLetter; ++a, ++b) {
        if ((*a | 0x20) != (*b | 0x20)) return SegmentComparison::NotComparable;
      }
      if (KindOf(*a) == kLetter || KindOf(*b) == kLetter) return SegmentComparison::NotComparable;
    }
  }
  if (!any_token) return SegmentComparison::NotComparable;
  if (order < 0) return SegmentComparison::Below;
  return order > 0 ? SegmentComparison::Above : SegmentComparison::Equal;
}
