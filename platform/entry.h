// The shell-application frame around `main`: library set-up, the argument
// list from the shell, the run-time environment, tear-down, and the status
// that goes back to the shell.
#pragma once

#include "platform/efi.h"

typedef int (*ApplicationMain)(int argc, char **argv);

// `main` sees at most 255 bytes of each argument.
constexpr size_t MAX_ARGUMENT_BYTES = 255;

// Everything the image entry point does, with `main` passed in so the host
// can run the same frame around other bodies. The status is all ones (-1)
// when no shell's argument list is on the image handle: the image was not
// started by a shell, and `main` is not called.
EFI_STATUS ShellAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                         ApplicationMain Main);

// The run-time environment alone: state block, standard descriptors,
// UTF-8 arguments, `main`, exit processing and the status mapping.
// `main` gets at most 63 arguments, so that the entry after the last one is
// always null in the 64-entry vector, and at most 255 UTF-8 bytes of each:
// an argument ends early at a surrogate unit or before the character that
// would pass 255 bytes. EFI_OUT_OF_RESOURCES when the state block cannot be
// allocated; EFI_ABORTED when the argument buffer cannot, or on an abnormal
// end inside `main`.
EFI_STATUS RunApplication(UINTN Argc, CHAR16 **Argv, ApplicationMain Main);

// main's result as the image status: 1 is EFI_ABORTED, every other value is
// sign-extended.
EFI_STATUS MapExitStatus(int ExitStatus);
