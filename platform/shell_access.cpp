// Placeholder until the shell access layer lands.
#include "platform/shell_access.h"

EFI_SHELL_PROTOCOL *gEfiShellProtocol = nullptr;
LEGACY_SHELL_ENVIRONMENT *gLegacyShellEnvironment = nullptr;
EFI_HANDLE gLegacyShellEnvironmentHandle = nullptr;
LEGACY_SHELL_INTERFACE *gLegacyShellInterface = nullptr;
EFI_UNICODE_COLLATION_PROTOCOL *gUnicodeCollation = nullptr;
SHELL_FILE_FUNCTIONS ShellFileFunctions = {};

void ClearShellAccessReferences() {}
EFI_STATUS ShellAccessInit(EFI_HANDLE) { return EFI_NOT_FOUND; }
EFI_STATUS FindLegacyShellEnvironment(EFI_HANDLE) { return EFI_NOT_FOUND; }
EFI_STATUS RunShellCommand(EFI_HANDLE *, const CHAR16 *, EFI_STATUS *) { return EFI_UNSUPPORTED; }
EFI_STATUS ShellAccessShutdown(EFI_HANDLE) { return EFI_SUCCESS; }
EFI_STATUS OpenNamedFile(const CHAR16 *, SHELL_FILE_HANDLE *, UINT64, UINT64) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS OpenFileAlongDevicePath(EFI_DEVICE_PATH_PROTOCOL **, SHELL_FILE_HANDLE *, UINT64,
                                   UINT64) {
  return EFI_UNSUPPORTED;
}
