// EFI_FILE_PROTOCOL over the simulated volume: directories open files by
// name, files read, seek and report their information. The volume is
// read-only unless the firmware was made writable: then in-memory files open
// for writing, are created in folders that exist, grow and flush, while the
// host folder stays read-only. Everything refused is refused with the
// statuses the platform gives for read-only media and read-only opens.
// Every member checks its handle first, so a handle used after its close is
// reported, not dereferenced.
#include <cstring>

#include "sim/internal.h"

namespace sim {
namespace {

constexpr UINT64 END_OF_FILE = 0xFFFFFFFFFFFFFFFFULL;

bool ValidOpenMode(UINT64 mode) {
  return mode == EFI_FILE_MODE_READ || mode == (EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE) ||
         mode == (EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE);
}

EFI_STATUS EFIAPI FileOpen(EFI_FILE_PROTOCOL *self, EFI_FILE_PROTOCOL **new_handle,
                           const CHAR16 *name, UINT64 mode, UINT64) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileOpen, &status)) return status;
  SimFile *file = state->CheckFile(self, "Open");
  if (file == nullptr || new_handle == nullptr || name == nullptr) return EFI_INVALID_PARAMETER;
  // A name is relative to the directory the handle is, or lies in.
  std::vector<std::string> base = file->path;
  if (!file->is_dir && !base.empty()) base.pop_back();
  SimFile *opened = nullptr;
  status = OpenPath(state, SplitPath(ToUtf8(name), base), mode, &opened);
  if (status == EFI_SUCCESS) *new_handle = &opened->protocol;
  return status;
}

EFI_STATUS EFIAPI FileGetInfo(EFI_FILE_PROTOCOL *self, const EFI_GUID *type, UINTN *size,
                              void *buffer) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileGetInfo, &status)) return status;
  SimFile *file = state->CheckFile(self, "GetInfo");
  if (file == nullptr || type == nullptr || size == nullptr) return EFI_INVALID_PARAMETER;
  if (GuidEquals(type, &EFI_FILE_SYSTEM_INFO_ID)) {
    size_t needed = offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) + sizeof(u"SIM");
    if (*size < needed) {
      *size = needed;
      return EFI_BUFFER_TOO_SMALL;
    }
    if (buffer == nullptr) return EFI_INVALID_PARAMETER;
    EFI_FILE_SYSTEM_INFO *info = static_cast<EFI_FILE_SYSTEM_INFO *>(buffer);
    std::memset(info, 0, needed);
    info->Size = needed;
    info->ReadOnly = state->options.writable ? 0 : 1;
    info->VolumeSize = 64u << 20;
    info->BlockSize = 512;
    std::memcpy(info->VolumeLabel, u"SIM", sizeof(u"SIM"));
    *size = needed;
    return EFI_SUCCESS;
  }
  if (!GuidEquals(type, &EFI_FILE_INFO_ID)) return EFI_UNSUPPORTED;
  size_t needed = FileInfoSize(*file);
  if (*size < needed) {
    *size = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  FillFileInfo(*file, buffer);
  *size = needed;
  return EFI_SUCCESS;
}

// One listing entry per read; a read of size 0 at the end.
EFI_STATUS ReadListing(Firmware::State *state, SimFile *folder, UINTN *size, void *buffer) {
  if (!folder->listed) {
    state->FillListing(folder);
    folder->listed = true;
  }
  if (folder->position >= folder->listing.size()) {
    if (!folder->endless || folder->listing.empty()) {
      *size = 0;
      return EFI_SUCCESS;
    }
    folder->position = 0;
  }
  const ListingEntry &entry = folder->listing[folder->position];
  size_t needed = offsetof(EFI_FILE_INFO, FileName) + (entry.name.size() + 1) * sizeof(CHAR16);
  if (*size < needed) {
    *size = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  // The name as it stands, which UTF-8 could not carry (a lone surrogate).
  FillFileInfo(entry.name, entry.is_dir, entry.size, buffer);
  *size = entry.reported_size != 0 ? entry.reported_size : needed;
  ++folder->position;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileSetInfo(EFI_FILE_PROTOCOL *self, const EFI_GUID *, UINTN, void *) {
  if (CurrentState()->CheckFile(self, "SetInfo") == nullptr) return EFI_INVALID_PARAMETER;
  return EFI_WRITE_PROTECTED;
}

}  // namespace

EFI_STATUS OpenPath(Firmware::State *state, const std::vector<std::string> &path, UINT64 mode,
                    SimFile **opened) {
  if (!ValidOpenMode(mode)) return EFI_INVALID_PARAMETER;
  bool write = mode != EFI_FILE_MODE_READ;
  if (write && !state->options.writable) return EFI_WRITE_PROTECTED;
  FileLookup found = state->Lookup(path);
  if (!found.found) {
    if ((mode & EFI_FILE_MODE_CREATE) == 0 || path.empty()) return EFI_NOT_FOUND;
    FileLookup folder = state->Lookup(std::vector<std::string>(path.begin(), path.end() - 1));
    if (!folder.found || !folder.is_dir) return EFI_NOT_FOUND;
    if (!folder.in_memory) return EFI_WRITE_PROTECTED;
    state->memory_files.emplace_back(path, std::string());
    found = FileLookup{true, false, true, path, std::string()};
  }
  if (write && !found.is_dir && !found.in_memory) return EFI_WRITE_PROTECTED;
  *opened = state->NewFile(found);
  (*opened)->writing = write && !found.is_dir;
  return EFI_SUCCESS;
}

// Close cannot fail on the platform: an injected fault changes the status
// reported, the handle is closed all the same.
EFI_STATUS EFIAPI FileClose(EFI_FILE_PROTOCOL *self) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status = EFI_SUCCESS;
  state->Fault(Call::FileClose, &status);
  SimFile *file = state->CheckFile(self, "Close");
  if (file == nullptr) return EFI_INVALID_PARAMETER;
  file->open = false;
  return status;
}

EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *self) {
  SimFile *file = CurrentState()->CheckFile(self, "Delete");
  if (file == nullptr) return EFI_INVALID_PARAMETER;
  file->open = false;
  return EFI_WARN_DELETE_FAILURE;
}

EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *self, UINTN *size, void *buffer) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileRead, &status)) return status;
  SimFile *file = state->CheckFile(self, "Read");
  if (file == nullptr || size == nullptr) return EFI_INVALID_PARAMETER;
  if (file->is_dir) return ReadListing(state, file, size, buffer);
  if (file->unreadable || file->position > file->bytes.size()) return EFI_DEVICE_ERROR;
  UINTN left = file->bytes.size() - file->position;
  UINTN count = *size < left ? *size : left;
  if (count != 0 && buffer == nullptr) return EFI_INVALID_PARAMETER;
  if (count != 0) std::memcpy(buffer, file->bytes.data() + file->position, count);
  file->position += count;
  *size = count;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *self, UINTN *size, void *buffer) {
  Firmware::State *state = CurrentState();
  EFI_STATUS fault = EFI_SUCCESS;
  bool faulted = state->Fault(Call::FileWrite, &fault);
  SimFile *file = state->CheckFile(self, "Write");
  if (file == nullptr || size == nullptr) return EFI_INVALID_PARAMETER;
  if (file->is_dir) return EFI_UNSUPPORTED;
  if (!file->writing) return EFI_ACCESS_DENIED;
  if (*size != 0 && buffer == nullptr) return EFI_INVALID_PARAMETER;
  // A faulted write stops half-way, as on a medium that fills up.
  UINTN count = faulted ? *size / 2 : *size;
  if (file->position > file->bytes.size()) file->bytes.resize(file->position, '\0');
  file->bytes.replace(file->position, count, static_cast<const char *>(buffer), count);
  file->position += count;
  *size = count;
  state->StoreFile(*file);
  return faulted ? fault : EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *self, UINT64 *position) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileGetPosition, &status)) return status;
  SimFile *file = state->CheckFile(self, "GetPosition");
  if (file == nullptr || position == nullptr) return EFI_INVALID_PARAMETER;
  if (file->is_dir) return EFI_UNSUPPORTED;
  *position = file->position;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *self, UINT64 position) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileSetPosition, &status)) return status;
  SimFile *file = state->CheckFile(self, "SetPosition");
  if (file == nullptr) return EFI_INVALID_PARAMETER;
  if (file->is_dir) {
    // A folder's listing can only start over.
    if (position != 0) return EFI_UNSUPPORTED;
    file->position = 0;
    return EFI_SUCCESS;
  }
  // Past the end is allowed; the next read reports the error.
  file->position = position == END_OF_FILE ? file->bytes.size() : position;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileFlush(EFI_FILE_PROTOCOL *self) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FileFlush, &status)) return status;
  SimFile *file = state->CheckFile(self, "Flush");
  if (file == nullptr) return EFI_INVALID_PARAMETER;
  return file->writing || file->is_dir ? EFI_SUCCESS : EFI_ACCESS_DENIED;
}

void SetUpFileProtocol(EFI_FILE_PROTOCOL *protocol) {
  protocol->Revision = 0x00010000;
  protocol->Open = FileOpen;
  protocol->Close = FileClose;
  protocol->Delete = FileDelete;
  protocol->Read = FileRead;
  protocol->Write = FileWrite;
  protocol->GetPosition = FileGetPosition;
  protocol->SetPosition = FileSetPosition;
  protocol->GetInfo = FileGetInfo;
  protocol->SetInfo = FileSetInfo;
  protocol->Flush = FileFlush;
}

size_t FileInfoSize(const SimFile &file) {
  std::u16string name = file.path.empty() ? u"" : ToUtf16(file.path.back());
  return offsetof(EFI_FILE_INFO, FileName) + (name.size() + 1) * sizeof(CHAR16);
}

void FillFileInfo(const std::u16string &name, bool is_dir, uint64_t size, void *buffer) {
  // The record is built aligned and copied: a caller's buffer may lie at
  // any address (a file stream reading a folder hands in its byte buffer).
  EFI_FILE_INFO info;
  std::memset(&info, 0, sizeof(info));
  size_t name_bytes = (name.size() + 1) * sizeof(CHAR16);
  info.Size = offsetof(EFI_FILE_INFO, FileName) + name_bytes;
  info.FileSize = size;
  info.PhysicalSize = (size + 511) / 512 * 512;
  EFI_TIME stamp{};
  stamp.Year = 2024;
  stamp.Month = 1;
  stamp.Day = 1;
  stamp.TimeZone = 2047;  // local time, zone not known
  info.CreateTime = info.LastAccessTime = info.ModificationTime = stamp;
  info.Attribute = EFI_FILE_READ_ONLY | (is_dir ? EFI_FILE_DIRECTORY : EFI_FILE_ARCHIVE);
  std::memcpy(buffer, &info, offsetof(EFI_FILE_INFO, FileName));
  // The name runs on past the declared one-unit array.
  std::memcpy(static_cast<uint8_t *>(buffer) + offsetof(EFI_FILE_INFO, FileName), name.c_str(),
              name_bytes);
}

void FillFileInfo(const SimFile &file, void *buffer) {
  FillFileInfo(file.path.empty() ? u"" : ToUtf16(file.path.back()), file.is_dir,
               file.bytes.size(), buffer);
}

EFI_FILE_INFO *MakeFileInfo(Firmware::State *state, const SimFile &file) {
  void *block = state->PoolAllocate(EfiBootServicesData, FileInfoSize(file));
  if (block == nullptr) return nullptr;
  FillFileInfo(file, block);
  return static_cast<EFI_FILE_INFO *>(block);
}

}  // namespace sim
