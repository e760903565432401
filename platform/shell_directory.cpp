// Folders through the shell. Listing uses the same file entries as reading
// a file: on a folder handle, ReadFile (UEFI Shell 2.0) or Read (EFI 1.x,
// through EFI_FILE_PROTOCOL) hands back one EFI_FILE_INFO record per call
// and a size of 0 at the end.
//
// Changing directory: the UEFI Shell 2.0 has SetCurDir, which is given the
// whole path (the current directory as GetCurDir names it, then the
// folder), so nothing depends on how a shell reads a relative one. The EFI
// 1.x shell's environment has no such entry; its own "cd" command, run
// through the execute entry, changes the directory of the shell that
// started us.
#include "platform/shell_directory.h"

#include "libc/stdlib.h"
#include "libc/string.h"
#include "platform/globals.h"
#include "platform/shell_access.h"

namespace {

// The longest current directory and folder, or command line, handled; a
// longer one is refused rather than cut.
constexpr UINTN PATH_UNITS = 2048;

size_t WideLength(const CHAR16 *Text) {
  size_t n = 0;
  while (Text[n] != 0) ++n;
  return n;
}

// Line made of the three texts one after the other; false when they would
// not fit with the NUL. One call for the whole line costs less than one
// for each part.
bool Join(CHAR16 Line[PATH_UNITS], const CHAR16 *First, const CHAR16 *Second,
          const CHAR16 *Third) {
  const CHAR16 *Parts[] = {First, Second, Third};
  UINTN Units = 0;
  for (const CHAR16 *Text : Parts) {
    size_t Length = WideLength(Text);
    if (Units + Length >= PATH_UNITS) return false;
    libc::memcpy(Line + Units, Text, Length * sizeof(CHAR16));
    Units += Length;
  }
  Line[Units] = 0;
  return true;
}

}  // namespace

EFI_STATUS OpenFolder(const CHAR16 *Name, SHELL_FILE_HANDLE *Folder) {
  return OpenNamedFile(Name, Folder, EFI_FILE_MODE_READ, 0);
}

EFI_STATUS ReadFolderEntry(SHELL_FILE_HANDLE Folder, FOLDER_ENTRY *Entry, bool *More) {
  *More = false;
  // The unit past what the read may fill stays 0, so the scan below ends.
  UINTN Room = FOLDER_ENTRY_SIZE - sizeof(CHAR16);
  reinterpret_cast<CHAR16 *>(Entry)[Room / sizeof(CHAR16)] = 0;
  UINTN Size = Room;
  EFI_STATUS Status = gShell.Files.ReadFile(Folder, &Size, Entry);
  if (EFI_ERROR(Status) || Size == 0) return Status;
  // The size handed back is not trusted either: the name must end inside
  // what it says was written.
  UINTN Units = 0;
  while (Entry->Info.FileName[Units] != 0) ++Units;
  UINTN End = offsetof(EFI_FILE_INFO, FileName) + (Units + 1) * sizeof(CHAR16);
  if (Size > Room || End > Size) return EFI_VOLUME_CORRUPTED;
  *More = true;
  return EFI_SUCCESS;
}

void CloseFolder(SHELL_FILE_HANDLE Folder) {
  // The handle is gone either way; nothing to act on.
  if (Folder != nullptr) (void)gShell.Files.CloseFile(Folder);
}

bool IsFolder(const CHAR16 *Name) {
  SHELL_FILE_HANDLE Handle = nullptr;
  if (EFI_ERROR(OpenFolder(Name, &Handle)) || Handle == nullptr) return false;
  // The shell hands the record back in pool memory of its own.
  EFI_FILE_INFO *Info = gShell.Files.GetFileInfo(Handle);
  bool Folder = Info != nullptr && (Info->Attribute & EFI_FILE_DIRECTORY) != 0;
  libc::free(Info);
  CloseFolder(Handle);
  return Folder;
}

EFI_STATUS ChangeCurrentDirectory(const CHAR16 *Name) {
  CHAR16 Line[PATH_UNITS];
  if (gShell.Protocol != nullptr) {
    const CHAR16 *Current = gShell.Protocol->GetCurDir(nullptr);
    if (Current == nullptr) return EFI_NOT_FOUND;
    size_t Units = WideLength(Current);
    if (Units >= PATH_UNITS) return EFI_NOT_FOUND;
    // The separator, or past it its text's own NUL when the directory
    // already ends in one.
    bool Separated = Units > 0 && Current[Units - 1] == u'\\';
    const CHAR16 *Separator = &u"\\"[Separated ? 1 : 0];
    if (!Join(Line, Current, Separator, Name)) return EFI_BAD_BUFFER_SIZE;
    return gShell.Protocol->SetCurDir(nullptr, Line);
  }
  if (gShell.LegacyEnvironment == nullptr) return EFI_UNSUPPORTED;
  // Quoted for names with blanks (a name cannot hold a quote on FAT).
  if (!Join(Line, u"cd \"", Name, u"\"")) return EFI_BAD_BUFFER_SIZE;
  EFI_STATUS CommandStatus = EFI_SUCCESS;
  EFI_STATUS Status = RunShellCommand(&gImageHandle, Line, &CommandStatus);
  return EFI_ERROR(Status) ? Status : CommandStatus;
}
