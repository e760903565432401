// The segment rule. Both texts are walked token by token in step, so the
// comparison needs no copy of either, and numbers are compared in place, so
// a number of any length is ordered without converting it.
#include "app/version_segments.h"

#include "app/explain.h"
#include "app/shown_text.h"
#include "app/version_check.h"
#include "platform/console.h"

namespace {

enum Kind { kSeparator, kDigit, kLetter };

Kind KindOf(char c) {
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

bool DecideBySegments(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, const char16_t **Script) {
  uint8_t field = 0;
  const char *installed = GetBiosVersionFieldString(Structure, &field);
  if (installed == nullptr) {
    ConsolePrint(u"ERROR: BIOS version not found.\n");
    return false;
  }
  VersionOrder order;
  switch (CompareVersionSegments(installed, Config->WholeVersion)) {
    case SegmentComparison::Below:
      order = VersionOrder::Older;
      break;
    case SegmentComparison::Equal:
      order = VersionOrder::Same;
      break;
    case SegmentComparison::Above:
      order = VersionOrder::Newer;
      break;
    default: {
      // Another model or another numbering scheme: any script is a guess.
      char shown_installed[SHOWN_TEXT_SIZE];
      char shown_configured[SHOWN_TEXT_SIZE];
      ConsolePrintAscii("ERROR: installed \"%a\" and configured \"%a\" cannot be compared.\n",
                        ShowText(installed, shown_installed),
                        ShowText(Config->WholeVersion, shown_configured));
      return false;
    }
  }
  *Script = order == VersionOrder::Older ? u"UpdateHWOld.nsh" : u"UpdateHWNew.nsh";
  if (Options->Verbose) {
    ExplainSegmentDecision(installed, Config->WholeVersion, order, Options->DecideOnly);
  }
  return true;
}
