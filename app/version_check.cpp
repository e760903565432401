// The decision the application exists for. The plain rule turns the
// installed BIOS version (string 2 of a BIOS Information structure) and the
// configured version into signed 32-bit numbers; a configured number above
// the installed one selects the old-BIOS update script, anything else the
// new-BIOS one.
#include "app/version_check.h"

#include "app/char_class.h"
#include "app/file_names.h"

namespace {

// The integer rule's reading of Text: the low 32 bits of the number in
// *Low, whether any digit (a skipped leading zero included) was read, and
// where the reading stopped.
const char *ScanVersionNumber(const char *Text, uint32_t *Low, bool *ReadDigits) {
  const char *p = Text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+') {
    ++p;
  } else if (*p == '-') {
    negative = true;
    ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  const char *digits = p;
  while (*p == '0') ++p;

  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    // Past 64 bits the value stays at the largest one.
    if (__builtin_mul_overflow(value, 10u, &value) ||
        __builtin_add_overflow(value, static_cast<uint64_t>(*p - '0'), &value)) {
      value = UINT64_MAX;
      break;
    }
  }
  // Keep the low 32 bits; negation is modulo 2^32 so it cannot overflow.
  *Low = static_cast<uint32_t>(value);
  if (negative) *Low = 0u - *Low;
  *ReadDigits = p != digits;
  return p;
}

}  // namespace

int32_t ParseVersionNumber(const char *Text) {
  uint32_t low = 0;
  bool read_digits = false;
  ScanVersionNumber(Text, &low, &read_digits);
  return static_cast<int32_t>(low);
}

IntegerReading DescribeIntegerReading(const char *Text) {
  uint32_t low = 0;
  bool read_digits = false;
  const char *rest = ScanVersionNumber(Text, &low, &read_digits);
  for (const char *p = read_digits ? rest : Text; *p != '\0'; ++p) {
    if (!IsSpace(*p)) {
      return read_digits ? IntegerReading::LeadingNumberOnly : IntegerReading::CountsAsZero;
    }
  }
  return IntegerReading::Whole;
}

IntegerDecision DecideByInteger(const char *Installed, const char *Configured) {
  IntegerDecision decision;
  decision.InstalledNumber = ParseVersionNumber(Installed);
  decision.ConfiguredNumber = ParseVersionNumber(Configured);
  // Older, Same and Newer are 0, 1 and 2: the count of the two tests that
  // hold, which needs no branch.
  static_assert(int(VersionOrder::Older) == 0 && int(VersionOrder::Same) == 1 &&
                    int(VersionOrder::Newer) == 2,
                "an order is a count");
  decision.Order = static_cast<VersionOrder>(
      (decision.InstalledNumber >= decision.ConfiguredNumber) +
      (decision.InstalledNumber > decision.ConfiguredNumber));
  return decision;
}

const char16_t *UpdateScriptFor(VersionOrder Order) {
  return Order == VersionOrder::Older ? u"" UPDATE_SCRIPT_OLD_NAME : u"" UPDATE_SCRIPT_NEW_NAME;
}
