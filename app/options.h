// The image's command-line options. A kit's startup.nsh passes them on the
// application's line; without them the run is exactly the plain decision.
//
//   -v         say what was read, which rule decided and why
//   -n         decide and say so, but run no script (implies -v)
//   -segments  compare whole version strings segment by segment
//   -product   refuse to run a script on another model
//   -smbios3   read the SMBIOS 3.x entry point when the firmware has one
//   -log FILE  append a line on each decision to FILE (the run record)
//
// Single dash, ASCII case ignored, any order; an option given twice counts
// once (-log: the last FILE), and any other argument is ignored. The
// argument after -log is its FILE, whatever it looks like.
#pragma once

struct RunOptions {
  bool Verbose;
  bool DecideOnly;
  bool Segments;
  bool Product;
  bool Smbios3;
  const char *Log;  // -log's FILE, as given; "" when -log ends the line; null without -log
};

// Fills *Options from argv[1] .. argv[argc-1] (argv[0] is the image's own
// name). Null entries are passed over.
void ParseRunOptions(int argc, char **argv, RunOptions *Options);
