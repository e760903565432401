// The PE entry symbol of the image: the firmware calls it with the image
// handle and the system table.
#include "app/main.h"
#include "platform/entry.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return ShellAppEntry(ImageHandle, SystemTable, app::main);
}
