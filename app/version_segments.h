// The segment rule: two version strings compared token by token, numbers by
// value and words by equality, for the version strings real firmware ships
// ("A05", "1.22.1", "7LET56WW (1.26 )") that one leading integer cannot order.
#pragma once

// Where the installed version stands against the configured one.
enum class SegmentComparison { Below, Equal, Above, NotComparable };

// A maximal run of ASCII digits is a number, a maximal run of ASCII letters
// a word; every other byte only separates. The texts are comparable when
// they have as many tokens, of the same kind at each position, with equal
// words (ASCII case ignored); then the first unequal pair of numbers, by
// value, decides. Both texts are NUL-terminated.
SegmentComparison CompareVersionSegments(const char *Installed, const char *Configured);

