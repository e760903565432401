// The segment rule: two version strings compared token by token, numbers by
// value and words by equality, for the version strings real firmware ships
// ("A05", "1.22.1", "7LET56WW (1.26 )") that one leading integer cannot order.
#pragma once

#include "app/options.h"
#include "app/update_config.h"
#include "smbios/smbios_types.h"

// Where the installed version stands against the configured one.
enum class SegmentComparison { Below, Equal, Above, NotComparable };

// A maximal run of ASCII digits is a number, a maximal run of ASCII letters
// a word; every other byte only separates. The texts are comparable when
// they have as many tokens, of the same kind at each position, with equal
// words (ASCII case ignored); then the first unequal pair of numbers, by
// value, decides. Both texts are NUL-terminated.
SegmentComparison CompareVersionSegments(const char *Installed, const char *Configured);

// The -segments decision for one BIOS Information structure: the string its
// BIOS Version field names against the whole Version= value. Sets *Script
// and returns true; prints why and returns false when the structure has no
// such string or the two cannot be compared.
bool DecideBySegments(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, const char16_t **Script);
