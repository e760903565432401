// The UEFI Shell 2.0 as the application meets it: EFI_SHELL_PROTOCOL on the
// shell's own handle (not on the image handle, so an open on the image
// handle fails and a lookup finds it), EFI_SHELL_PARAMETERS_PROTOCOL with
// the arguments on the image handle, and the firmware's Unicode collation.
//
// Execute records the command line in order with the console output and
// reports the command's status through the status reference. The file
// members share the file protocol's code; a shell file handle is an
// EFI_FILE_PROTOCOL instance, as under the real shell.
#include "sim/internal.h"

namespace sim {
namespace {

EFI_FILE_PROTOCOL *AsFile(SHELL_FILE_HANDLE handle) {
  return static_cast<EFI_FILE_PROTOCOL *>(handle);
}

EFI_STATUS EFIAPI Execute(EFI_HANDLE *parent, CHAR16 *command_line, CHAR16 **,
                          EFI_STATUS *command_status) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::ShellExecute, &status)) return status;
  if (parent == nullptr || command_line == nullptr) return EFI_INVALID_PARAMETER;
  // The parent is passed by reference; a handle value here reads as no handle.
  if (state->FindHandle(*parent) == nullptr) {
    state->Error("Execute: ParentImageHandle does not refer to a handle");
    return EFI_INVALID_PARAMETER;
  }
  if (state->options.on_execute) state->options.on_execute(*state->owner, command_line);
  state->events.push_back(Event{Event::Execute, command_line, state->owner->OpenFileHandles(),
                                state->CurrentDirectoryText()});
  if (command_status != nullptr) *command_status = state->options.command_status;
  return EFI_SUCCESS;
}

// The current directory as the shell names it: the mapping, then the path
// from the root. The text stays the shell's; the next change replaces it.
const CHAR16 *EFIAPI GetCurDir(const CHAR16 *mapping) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::CurDir, &status) || mapping != nullptr) return nullptr;
  state->current_directory_text = u"FS0:\\" + state->CurrentDirectoryText();
  return state->current_directory_text.c_str();
}

// Only the current file system is served (FileSystem null); Dir is taken
// from the root when it starts with a mapping or '\\', else from the
// current directory.
EFI_STATUS EFIAPI SetCurDir(const CHAR16 *file_system, const CHAR16 *dir) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::CurDir, &status)) return status;
  if (dir == nullptr) return EFI_INVALID_PARAMETER;
  if (file_system != nullptr) return EFI_UNSUPPORTED;
  return state->ChangeDirectory(dir);
}

EFI_STATUS EFIAPI OpenFileByName(const CHAR16 *name, SHELL_FILE_HANDLE *handle, UINT64 mode) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (handle != nullptr) *handle = nullptr;
  if (state->Fault(Call::FileOpen, &status)) return status;
  if (name == nullptr || handle == nullptr) return EFI_INVALID_PARAMETER;
  SimFile *opened = nullptr;
  status = OpenPath(state, SplitPath(ToUtf8(name), state->current_directory), mode, &opened);
  if (status == EFI_SUCCESS) *handle = opened;
  return status;
}

EFI_FILE_INFO *EFIAPI GetFileInfo(SHELL_FILE_HANDLE handle) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileGetInfo, &status)) return nullptr;
  SimFile *file = state->CheckFile(handle, "GetFileInfo");
  if (file == nullptr) return nullptr;
  return MakeFileInfo(state, *file);
}

EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE handle, const EFI_FILE_INFO *) {
  if (CurrentState()->CheckFile(handle, "SetFileInfo") == nullptr) return EFI_INVALID_PARAMETER;
  return EFI_WRITE_PROTECTED;
}

EFI_STATUS EFIAPI GetFileSize(SHELL_FILE_HANDLE handle, UINT64 *size) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileGetInfo, &status)) return status;
  SimFile *file = state->CheckFile(handle, "GetFileSize");
  if (file == nullptr || size == nullptr) return EFI_INVALID_PARAMETER;
  *size = file->bytes.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE handle) { return FileClose(AsFile(handle)); }
EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE handle) { return FileDelete(AsFile(handle)); }
EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE handle) { return FileFlush(AsFile(handle)); }

EFI_STATUS EFIAPI ReadFile(SHELL_FILE_HANDLE handle, UINTN *size, void *buffer) {
  return FileRead(AsFile(handle), size, buffer);
}

EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE handle, UINTN *size, void *buffer) {
  return FileWrite(AsFile(handle), size, buffer);
}

EFI_STATUS EFIAPI GetFilePosition(SHELL_FILE_HANDLE handle, UINT64 *position) {
  return FileGetPosition(AsFile(handle), position);
}

EFI_STATUS EFIAPI SetFilePosition(SHELL_FILE_HANDLE handle, UINT64 position) {
  return FileSetPosition(AsFile(handle), position);
}

char16_t FoldCase(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  return c;
}

// A fault makes the strings compare as different.
INTN EFIAPI StriColl(EFI_UNICODE_COLLATION_PROTOCOL *, const CHAR16 *a, const CHAR16 *b) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::StriColl, &status)) return 1;
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  while (*a != 0 && FoldCase(*a) == FoldCase(*b)) {
    ++a;
    ++b;
  }
  return static_cast<INTN>(FoldCase(*a)) - static_cast<INTN>(FoldCase(*b));
}

}  // namespace

void SetUpShell(Firmware::State *state) {
  Firmware *firmware = state->owner;
  for (const std::u16string &arg : state->options.args) state->arg_storage.push_back(arg);
  for (std::u16string &arg : state->arg_storage) state->argv.push_back(&arg[0]);
  state->argv.push_back(nullptr);

  EFI_SHELL_PROTOCOL &shell = state->shell;
  shell.Execute = Execute;
  shell.GetCurDir = GetCurDir;
  shell.SetCurDir = SetCurDir;
  shell.GetFileInfo = GetFileInfo;
  shell.SetFileInfo = SetFileInfo;
  shell.OpenFileByName = OpenFileByName;
  shell.CloseFile = CloseFile;
  shell.ReadFile = ReadFile;
  shell.WriteFile = WriteFile;
  shell.DeleteFile = DeleteFile;
  shell.GetFilePosition = GetFilePosition;
  shell.SetFilePosition = SetFilePosition;
  shell.FlushFile = FlushFile;
  shell.GetFileSize = GetFileSize;
  shell.MajorVersion = 2;
  shell.MinorVersion = 2;
  state->shell_parameters.Argv = state->argv.data();
  state->shell_parameters.Argc = state->arg_storage.size();

  static CHAR8 languages[] = "en";
  state->collation.StriColl = StriColl;
  state->collation.SupportedLanguages = languages;

  if (state->options.with_collation) {
    firmware->InstallProtocol(firmware->CreateHandle(), EFI_UNICODE_COLLATION_PROTOCOL_GUID,
                              &state->collation);
  }
  if (state->options.shell == ShellKind::Uefi2) {
    state->shell_handle = firmware->CreateHandle();
    firmware->InstallProtocol(state->shell_handle, EFI_SHELL_PROTOCOL_GUID, &state->shell);
    firmware->InstallProtocol(state->image_handle, EFI_SHELL_PARAMETERS_PROTOCOL_GUID,
                              &state->shell_parameters);
  }
}

}  // namespace sim
