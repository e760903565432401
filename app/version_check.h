// The integer rule: the installed BIOS version text and the configured one
// as signed 32-bit numbers, and the update script their order selects.
// Pure: texts in, an order and a script name out.
#pragma once

#include <stdint.h>

// The installed version against the configured one.
enum class VersionOrder { Older, Same, Newer };

// Text to signed 32-bit number: blanks, one sign, blanks and zeros, then
// decimal digits, saturating at 2^64-1 and keeping the low 32 bits.
int32_t ParseVersionNumber(const char *Text);

// How much of a text the integer rule sees.
enum class IntegerReading {
  Whole,              // the number is all there is (blanks, sign and zeros aside)
  CountsAsZero,       // no digit where the number would start, yet other text
  LeadingNumberOnly,  // a number, then more text the rule never looks at
};
IntegerReading DescribeIntegerReading(const char *Text);

// The integer rule on two texts: the number each reads as, and their order.
struct IntegerDecision {
  int32_t InstalledNumber;
  int32_t ConfiguredNumber;
  VersionOrder Order;
};
IntegerDecision DecideByInteger(const char *Installed, const char *Configured);

// "UpdateHWOld.nsh" for an older installed version, else "UpdateHWNew.nsh".
const char16_t *UpdateScriptFor(VersionOrder Order);
