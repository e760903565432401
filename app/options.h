// The image's command-line options. A kit's startup.nsh passes them on the
// application's line; without them the run is exactly the plain decision.
//
//   -v         say what was read, which rule decided and why
//   -n         decide and say so, but run no script (implies -v)
//   -segments  compare whole version strings segment by segment
//   -product   refuse to run a script on another model
//   -smbios3   read the SMBIOS 3.x entry point when the firmware has one
//   -kits      choose this machine's kit from the library in the folder
//              kits, and run there as if started in it with -product
//   -verify    check the kit's files against its SHA256SUMS first
//   -hwids     print the machine's hardware IDs and their fields; no script
//   -log FILE  append a line on each decision to FILE (the run record)
//
// Single dash, ASCII case ignored, any order; an option given twice counts
// once (-log: the last FILE), and any other argument is ignored (one that
// begins with '-' with a note saying so). The argument after -log is its
// FILE, whatever it looks like.
#pragma once

#include <stddef.h>

struct RunOptions {
  bool Verbose;
  bool DecideOnly;
  bool Segments;
  bool Product;
  bool Smbios3;
  bool Kits;
  bool Verify;
  bool HardwareIds;
  const char *Log;  // -log's FILE, as given; "" when -log ends the line; null without -log
};

// The flag options are the first OPTION_WORD_COUNT options, in RunOptions'
// field order, which is also the order a run record lists them: option I
// sets the I-th bool. -log comes after them.
constexpr int OPTION_WORD_COUNT = 8;
constexpr int OPTION_LOG = OPTION_WORD_COUNT;
static_assert(offsetof(RunOptions, Verbose) == 0 && offsetof(RunOptions, DecideOnly) == 1 &&
                  offsetof(RunOptions, Segments) == 2 && offsetof(RunOptions, Product) == 3 &&
                  offsetof(RunOptions, Smbios3) == 4 && offsetof(RunOptions, Kits) == 5 &&
                  offsetof(RunOptions, Verify) == 6 && offsetof(RunOptions, HardwareIds) == 7,
              "flag option I is the I-th bool of RunOptions");

inline bool *OptionFlag(RunOptions *Options, int Index) {
  return reinterpret_cast<bool *>(Options) + Index;
}
inline bool OptionSet(const RunOptions *Options, int Index) {
  return *OptionFlag(const_cast<RunOptions *>(Options), Index);
}

// Fills *Options from argv[1] .. argv[argc-1] (argv[0] is the image's own
// name). Null entries are passed over.
void ParseRunOptions(int argc, char **argv, RunOptions *Options);

// The index of the first argument from Start on that begins with '-' but is
// none of the options above (-log's FILE aside); argc when there is none.
int NextUnknownOption(int argc, char **argv, int Start);

// For the host tools, which refuse any word on a kit's line that the image
// would pass over: the index of the first argument from Start on that is
// none of the options above, whatever it begins with (-log's FILE aside;
// -log without one is such an argument); argc when there is none.
int NextNonOption(int argc, char **argv, int Start);

// The options above by name, in order ("-v", ..., "-log"); null past the last.
const char *RunOptionName(int Index);
