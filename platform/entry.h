// The shell-application frame around `main`: library set-up, the argument
// list from the shell, the run-time environment, tear-down, and the status
// that goes back to the shell.
#pragma once

#include "platform/efi.h"

typedef int (*ApplicationMain)(int argc, char **argv);

// Everything the image entry point does, with `main` passed in so the host
// can run the same frame around other bodies.
EFI_STATUS ShellAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                         ApplicationMain Main);

// The run-time environment alone: state block, standard descriptors,
// UTF-8 arguments, `main`, exit processing and the status mapping.
EFI_STATUS RunApplication(UINTN Argc, CHAR16 **Argv, ApplicationMain Main);

// main's result as the image status: 1 is EFI_ABORTED, every other value is
// sign-extended.
EFI_STATUS MapExitStatus(int ExitStatus);
