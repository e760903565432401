// Acting through the shell access layer: the only app file that has the
// shell do something.
#include "app/actions.h"

#include "platform/efi_protocols.h"
#include "platform/shell_access.h"
#include "platform/shell_directory.h"

EFI_STATUS RunUpdateScript(EFI_HANDLE *ImageHandleCopy, const char16_t *Script) {
  EFI_STATUS script_status = EFI_SUCCESS;
  return RunShellCommand(ImageHandleCopy, Script, &script_status);
}

EFI_STATUS FindUpdateScript(const char16_t *Script) {
  SHELL_FILE_HANDLE handle = nullptr;
  EFI_STATUS status = OpenNamedFile(Script, &handle, EFI_FILE_MODE_READ, 0);
  if (!EFI_ERROR(status) && handle != nullptr && gShell.Files.CloseFile != nullptr) {
    gShell.Files.CloseFile(handle);
  }
  return status;
}

bool EnterKitFolder(const char16_t *Path) { return !EFI_ERROR(ChangeCurrentDirectory(Path)); }
