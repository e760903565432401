// The application's own control flow, called once by the shell-application
// start-up with the converted arguments.
#pragma once

#include "app/options.h"
#include "smbios/structure_walk.h"

namespace app {

typedef SmbiosWalk StructureWalk;

// The whole run with the given walk over the structure table and options:
// `main` takes the one-pass walk; the benchmark measures the fetch-by-handle
// walk it replaces through the very same run.
int RunUpdateSelection(StructureWalk Walk, const RunOptions *Options);

int main(int argc, char **argv);

}  // namespace app
