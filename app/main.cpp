// The run: find the SMBIOS entry point, read UpdateConfig.ini, then walk the
// structure table in table order and hand every BIOS Information structure
// to the version check, which has the shell run one update script for it.
//
// The run ends with 1 (EFI_ABORTED for the shell) whenever the decision
// could not be made: no SMBIOS table, no readable configuration file, no
// "Version=" key, a BIOS Information structure without a version string, or
// a table that holds no BIOS Information structure at all. Carrying on would
// read through a missing table or flash on a guess, and ending with success
// would tell a fleet script that the update was taken care of.
#include "app/main.h"

#include "app/update_config.h"
#include "app/version_check.h"
#include "platform/globals.h"
#include "smbios/entry_point.h"

namespace app {

namespace {

struct RunState {
  UpdateConfig config;
  EFI_HANDLE image_handle;  // the shell gets a reference to this copy
  unsigned decided;
  bool undecided;
};

void VisitStructure(SmbiosStructurePointer Structure, void *Context) {
  RunState *run = static_cast<RunState *>(Context);
  if (Structure.Hdr->Type != SMBIOS_TYPE_BIOS_INFORMATION) return;
  if (CheckBiosVersion(Structure, &run->config, &run->image_handle)) {
    ++run->decided;
  } else {
    run->undecided = true;
  }
}

}  // namespace

int RunUpdateSelection(StructureWalk Walk) {
  if (!FindSmbiosEntryPoint()) return 1;
  gSmbiosTableStart.Raw =
      reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(gSmbiosEntryPoint->TableAddress));

  RunState run = {};
  run.image_handle = gImageHandle;
  if (LoadUpdateConfig(&run.config) != ConfigResult::Loaded) return 1;

  Walk(gSmbiosEntryPoint->NumberOfSmbiosStructures, VisitStructure, &run);
  return run.undecided || run.decided == 0 ? 1 : 0;
}

int main(int, char **) { return RunUpdateSelection(WalkSmbiosTable); }

}  // namespace app
