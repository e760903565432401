// Acting through the shell access layer: the only app file that has the
// shell do something.
#include "app/actions.h"

#include "platform/shell_access.h"

void RunUpdateScript(EFI_HANDLE *ImageHandleCopy, const char16_t *Script) {
  EFI_STATUS script_status = EFI_SUCCESS;
  RunShellCommand(ImageHandleCopy, Script, &script_status);
}
