// The run: find the SMBIOS entry point, read UpdateConfig.ini, then walk the
// structure table in table order and hand every BIOS Information structure
// to the version check, which has the shell run one update script for it.
//
// The run ends with 1 (EFI_ABORTED for the shell) whenever the decision
// could not be made: no SMBIOS table, no configuration file, no "Version="
// key, or a BIOS Information structure without a version string. Carrying
// on in those cases would read through a missing table or flash on a guess.
#include "app/main.h"

#include "app/update_config.h"
#include "app/version_check.h"
#include "platform/globals.h"
#include "smbios/entry_point.h"
#include "smbios/structure_table.h"

namespace app {

int main(int, char **) {
  if (!FindSmbiosEntryPoint()) return 1;
  gSmbiosTableStart.Raw =
      reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(gSmbiosEntryPoint->TableAddress));
  uint16_t handle = FirstSmbiosHandle();

  UpdateConfig config;
  if (LoadUpdateConfig(&config) != ConfigResult::Loaded) return 1;

  // The shell gets a reference to our own copy of the image handle.
  EFI_HANDLE image_handle = gImageHandle;
  int result = 0;
  unsigned visited = 0;
  const uint8_t *last_visited = nullptr;
  while (visited < gSmbiosEntryPoint->NumberOfSmbiosStructures &&
         handle != INVALID_SMBIOS_HANDLE) {
    SmbiosStructurePointer structure;
    uint16_t length = 0;
    if (GetSmbiosStructure(&handle, &structure, &length) != SMBIOS_RESULT_SUCCESS) break;
    // A repeated handle sends the fetch back to an earlier structure; going
    // on would visit it again and run the same update a second time.
    if (last_visited != nullptr && structure.Raw <= last_visited) break;
    last_visited = structure.Raw;
    if (structure.Hdr->Type == SMBIOS_TYPE_BIOS_INFORMATION &&
        !CheckBiosVersion(structure, &config, &image_handle)) {
      result = 1;
    }
    ++visited;
  }
  return result;
}

}  // namespace app
