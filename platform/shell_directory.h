// Folders through the shell that started the application: listing a folder
// entry by entry, and changing the shell's current directory. Both shell
// generations are served, through the references ShellAccessInit found.
#pragma once

#include "platform/efi_protocols.h"

// Room for one listing entry: the fixed part of EFI_FILE_INFO, a name of up
// to 255 UTF-16 units with its NUL, and one unit more that the read never
// fills, which bounds the scan of a damaged name. Longer names do not fit
// and are reported as EFI_BUFFER_TOO_SMALL.
constexpr UINTN FOLDER_NAME_LIMIT = 255;
constexpr UINTN FOLDER_ENTRY_SIZE =
    offsetof(EFI_FILE_INFO, FileName) + (FOLDER_NAME_LIMIT + 2) * sizeof(CHAR16);

// One listing entry, aligned for the record it holds.
union FOLDER_ENTRY {
  EFI_FILE_INFO Info;
  UINT64 Storage[(FOLDER_ENTRY_SIZE + 7) / 8];
};

// Opens the folder Name (relative to the shell's current directory) for
// listing. A file opened this way lists as damaged: its bytes are no
// listing records.
EFI_STATUS OpenFolder(const CHAR16 *Name, SHELL_FILE_HANDLE *Folder);

// Reads the next entry of an open folder. *More is false at the end of the
// listing. Fails for an entry whose record does not fit
// (EFI_BUFFER_TOO_SMALL) or is damaged: a name without its NUL inside the
// size the read reported.
EFI_STATUS ReadFolderEntry(SHELL_FILE_HANDLE Folder, FOLDER_ENTRY *Entry, bool *More);

void CloseFolder(SHELL_FILE_HANDLE Folder);

// Whether Name (relative to the shell's current directory) opens as a
// folder; false for a file or a name that does not open.
bool IsFolder(const CHAR16 *Name);

// Makes the folder Name (relative to the shell's current directory) the
// shell's current directory, so scripts run from there and bare file names
// resolve there. On failure the current directory is as it was.
EFI_STATUS ChangeCurrentDirectory(const CHAR16 *Name);
