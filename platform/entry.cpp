// Placeholder until the shell-application frame lands.
#include "platform/entry.h"

#include "platform/globals.h"

EFI_STATUS MapExitStatus(int ExitStatus) {
  if (ExitStatus == 1) return EFI_ABORTED;
  return static_cast<EFI_STATUS>(static_cast<INT64>(ExitStatus));
}

EFI_STATUS RunApplication(UINTN, CHAR16 **, ApplicationMain Main) {
  return MapExitStatus(Main(0, nullptr));
}

EFI_STATUS ShellAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                         ApplicationMain Main) {
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  return RunApplication(0, nullptr, Main);
}
