// The run record's firmware side. A record is written before an update
// script starts, and the script may flash and reset the machine: the line
// goes out in one write, is flushed, and the file is closed before the
// caller goes on. Nothing here stops the run; failures come back as a
// status for the caller's note.
#include "platform/record_file.h"

#include "platform/globals.h"
#include "platform/shell_access.h"

namespace {

// Device path nodes looked at before giving up on finding a CD-ROM node.
constexpr int MAX_PATH_NODES = 64;
constexpr UINT8 MEDIA_CDROM_DP = 0x02;

// Whether the image was loaded from a CD-ROM. ovmf lets a FAT volume on a
// CD-ROM be opened for writing and written to; the write fails only when
// the file is flushed, and the shell then finds nothing more on the volume:
// not the update script, not its own prompt. So nothing is written there.
// A record named on another volume ("fs1:\\...") is not checked.
bool LoadedFromCdrom(const CHAR16 *Name) {
  for (const CHAR16 *p = Name; *p != 0; ++p) {
    if (*p == u':') return false;
  }
  void *Interface = nullptr;
  if (EFI_ERROR(OpenInterface(gImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &Interface))) {
    return false;
  }
  EFI_HANDLE Device = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface)->DeviceHandle;
  if (Device == nullptr ||
      EFI_ERROR(OpenInterface(Device, &EFI_DEVICE_PATH_PROTOCOL_GUID, &Interface))) {
    return false;
  }
  // Nodes are byte-packed: the length is read byte by byte, and a length
  // below the header ends the walk.
  const UINT8 *Node = static_cast<const UINT8 *>(Interface);
  for (int i = 0; i < MAX_PATH_NODES && Node[0] != END_DEVICE_PATH_TYPE; ++i) {
    if (Node[0] == MEDIA_DEVICE_PATH && Node[1] == MEDIA_CDROM_DP) return true;
    UINT16 Length = static_cast<UINT16>(Node[2] | (Node[3] << 8));
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) return false;
    Node += Length;
  }
  return false;
}

EFI_STATUS WriteAtEnd(SHELL_FILE_HANDLE File, const char *Line, UINTN Length, AppendStep *Step) {
  // A folder of that name opens too; its write fails below.
  *Step = AppendStep::Position;
  UINT64 Size = 0;
  EFI_STATUS Status = gShell.Files.GetFileSize(File, &Size);
  if (EFI_ERROR(Status)) return Status;
  // Whether the file ends in LF: a power cut or a full medium may have left
  // a line without one. An unreadable last byte counts as not LF, which
  // costs at most an empty line.
  bool Separate = false;
  if (Size != 0) {
    Status = gShell.Files.SetFilePosition(File, Size - 1);
    if (EFI_ERROR(Status)) return Status;
    char Last = 0;
    UINTN One = 1;
    Status = gShell.Files.ReadFile(File, &One, &Last);
    Separate = EFI_ERROR(Status) || One != 1 || Last != '\n';
  }
  Status = gShell.Files.SetFilePosition(File, Size);
  if (EFI_ERROR(Status)) return Status;

  *Step = AppendStep::Write;
  UINTN Skip = Separate ? 0 : 1;
  UINTN Count = Length - Skip;
  UINTN Written = Count;
  Status = gShell.Files.WriteFile(File, &Written, const_cast<char *>(Line + Skip));
  if (EFI_ERROR(Status)) return Status;
  if (Written != Count) return EFI_DEVICE_ERROR;

  *Step = AppendStep::Flush;
  return gShell.Files.FlushFile(File);
}

}  // namespace

bool ReadFirmwareClock(EFI_TIME *Time) {
  if (gRT == nullptr || gRT->GetTime == nullptr) return false;
  return !EFI_ERROR(gRT->GetTime(Time, nullptr));
}

EFI_STATUS AppendLineToFile(const CHAR16 *Name, const char *Line, UINTN Length, AppendStep *Step) {
  *Step = AppendStep::Open;
  if (Length < 2 || gShell.Files.CloseFile == nullptr) return EFI_UNSUPPORTED;
  if (LoadedFromCdrom(Name)) return EFI_WRITE_PROTECTED;
  SHELL_FILE_HANDLE File = nullptr;
  EFI_STATUS Status = OpenNamedFile(
      Name, &File, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0);
  if (EFI_ERROR(Status)) return Status;
  if (File == nullptr) return EFI_DEVICE_ERROR;
  Status = WriteAtEnd(File, Line, Length, Step);
  EFI_STATUS Closed = gShell.Files.CloseFile(File);
  if (!EFI_ERROR(Status) && EFI_ERROR(Closed)) {
    *Step = AppendStep::Close;
    Status = Closed;
  }
  return Status;
}
