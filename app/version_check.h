// The decision: the installed BIOS version against the configured one, and
// the update script the shell runs for it.
#pragma once

#include <stdint.h>

#include "app/options.h"
#include "app/update_config.h"
#include "platform/efi.h"
#include "smbios/smbios_types.h"

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

constexpr uint8_t BIOS_VERSION_FIELD_OFFSET = 0x05;

// The string the BIOS Version field (offset 0x05) of a BIOS Information
// structure names, with the field's value in *FieldNumber (0 when the
// formatted area is too short to hold it). Null when the field is 0 or the
// string-set has no such string.
const char *GetBiosVersionFieldString(SmbiosStructurePointer Structure, uint8_t *FieldNumber);

// "UpdateHWOld.nsh" when Configured > Installed, else "UpdateHWNew.nsh".
const char16_t *ChooseUpdateScript(int32_t Installed, int32_t Configured);

// Runs the version check for one BIOS Information structure: the integer
// rule on string 2, or with -segments the segment rule on the string the
// BIOS Version field names; the chosen script runs through the shell, with
// ImageHandleCopy as the parent, unless -n. Returns false, after its
// message, when no decision can be made for the structure.
bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, EFI_HANDLE *ImageHandleCopy);
