// The shell access layer: finds the UEFI Shell 2.0 protocol or the EFI 1.x
// shell once at start-up, runs command lines through it, and opens and reads
// files by name through it for the C library's file layer.
#pragma once

#include "platform/efi_protocols.h"

// The file operations the application uses (the C library's file layer,
// folder listings, the run record): the shell protocol's own members, or
// fallbacks over EFI_FILE_PROTOCOL.
struct SHELL_FILE_FUNCTIONS {
  EFI_SHELL_GET_FILE_INFO GetFileInfo;
  EFI_SHELL_READ_FILE ReadFile;
  EFI_SHELL_WRITE_FILE WriteFile;
  EFI_SHELL_CLOSE_FILE CloseFile;
  EFI_SHELL_SET_FILE_POSITION SetFilePosition;
  EFI_SHELL_FLUSH_FILE FlushFile;
  EFI_SHELL_GET_FILE_SIZE GetFileSize;
};

// The program-wide references to the shell and its file operations, all
// cleared at once by ClearShellAccessReferences and set only by
// ShellAccessInit (the collation reference by the first OpenNamedFile).
struct ShellReferences {
  EFI_SHELL_PROTOCOL *Protocol;  // a UEFI Shell 2.0
  LEGACY_SHELL_ENVIRONMENT *LegacyEnvironment;  // an EFI 1.x shell
  EFI_HANDLE LegacyEnvironmentHandle;
  LEGACY_SHELL_INTERFACE *LegacyInterface;
  EFI_UNICODE_COLLATION_PROTOCOL *Collation;
  SHELL_FILE_FUNCTIONS Files;
};
extern ShellReferences gShell;

// OpenProtocol as every lookup of the platform layer makes it (agent: the
// image, by GET_PROTOCOL). An interface reported found but null counts as
// EFI_NOT_FOUND; *Interface is written only on success.
EFI_STATUS OpenInterface(EFI_HANDLE Handle, const EFI_GUID *Guid, void **Interface);

void ClearShellAccessReferences();
EFI_STATUS ShellAccessInit(EFI_HANDLE ImageHandle);
EFI_STATUS FindLegacyShellEnvironment(EFI_HANDLE ImageHandle);
EFI_STATUS RunShellCommand(EFI_HANDLE *ParentImageHandle, const CHAR16 *CommandLine,
                           EFI_STATUS *CommandStatus);
EFI_STATUS ShellAccessShutdown(EFI_HANDLE ImageHandle);
EFI_STATUS OpenNamedFile(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                         UINT64 Attributes);
EFI_STATUS OpenFileAlongDevicePath(EFI_DEVICE_PATH_PROTOCOL **FilePath,
                                   SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                                   UINT64 Attributes);
