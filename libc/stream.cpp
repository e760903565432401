// Read-only file streams over the shell access layer's file functions.
//
// Each stream holds one pool block: the record, then a buffer of 4 KiB for
// reads plus 64 bytes kept from the previous fill. The firmware is asked
// only when the wanted position is not buffered: a forward scan that steps
// back a few bytes (a key search's window) finds those bytes kept, and a
// file of up to 4 KiB is read once, plus one read that finds its end. The
// logical position is tracked here; the firmware's file position is moved
// only when a fill must start somewhere else than where it stands.
#include "libc/devices.h"
#include "libc/errno.h"
#include "libc/runtime.h"
#include "libc/stdlib.h"
#include "libc/stream_internal.h"
#include "libc/string.h"
#include "platform/efi_protocols.h"
#include "platform/image_inline.h"
#include "platform/shell_access.h"
#include "platform/utf8.h"

namespace libc {

namespace {

constexpr size_t READ_SIZE = 4096;
constexpr size_t KEEP_BACK = 64;
constexpr size_t BUFFER_SIZE = KEEP_BACK + READ_SIZE;
constexpr UINT64 NO_END = ~0ULL;
constexpr UINT64 UNKNOWN_POSITION = ~0ULL;
constexpr UINT64 POSITION_LIMIT = ~0ULL >> 1;
constexpr UINT64 LONG_LIMIT = static_cast<unsigned long>(-1) >> 1;

FILE *gOpenStreams = nullptr;

bool IsReadMode(const char *Mode) {
  return Mode[0] == 'r' && (Mode[1] == '\0' || (Mode[1] == 'b' && Mode[2] == '\0'));
}

// The name as the shell takes it: the library's UTF-8 in UTF-16, '/' as
// '\' (never more units than bytes); a name already in UTF-16 (Wide) as it
// stands.
EFI_STATUS OpenByName(const char *Name, const CHAR16 *Wide, SHELL_FILE_HANDLE *Handle) {
  *Handle = nullptr;
  CHAR16 *copy = nullptr;
  if (Wide == nullptr) {
    size_t length = strlen(Name);
    copy = static_cast<CHAR16 *>(calloc(length + 1, sizeof(CHAR16)));
    if (copy == nullptr) return EFI_OUT_OF_RESOURCES;
    Utf8ToUtf16(Name, copy, length);
    Wide = copy;
  }
  EFI_STATUS status = OpenNamedFile(Wide, Handle, EFI_FILE_MODE_READ, 0);
  free(copy);
  if (!EFI_ERROR(status) && *Handle == nullptr) status = EFI_DEVICE_ERROR;
  return status;
}

void Fail(FILE *Stream, EFI_STATUS Status) {
  Stream->Flags |= STREAM_ERROR;
  RecordFailure(LIBC_EIO, Status);
}

// UEFI file reads fail with a device error when the position stands past
// the end of the file, where C expects plain end of file: a failed read is
// taken for the end when the file proves shorter than the position.
bool PastEnd(FILE *Stream) {
  UINT64 size = 0;
  if (gShell.Files.GetFileSize == nullptr ||
      EFI_ERROR(gShell.Files.GetFileSize(Stream->Handle, &size)) ||
      Stream->Position <= size) {
    return false;
  }
  Stream->EndOffset = size;
  Stream->Flags |= STREAM_EOF;
  return true;
}

// Buffers the bytes at Stream->Position. False at the end of the file (end
// indicator set) or on a failed firmware call (error indicator set).
bool Fill(FILE *Stream) {
  if (Stream->Position >= Stream->EndOffset) {
    Stream->Flags |= STREAM_EOF;
    return false;
  }
  // The firmware is moved only when it stands elsewhere; the buffer goes on
  // only when the read continues it, else it starts afresh at the position.
  // Whenever the firmware's position is known it is the buffer's end (every
  // fill moves both alike), so a fill that need not move it continues the
  // buffer.
  bool moved = Stream->FirmwarePosition != Stream->Position;
  if (moved) {
    EFI_STATUS status = gShell.Files.SetFilePosition == nullptr
                            ? EFI_UNSUPPORTED
                            : gShell.Files.SetFilePosition(Stream->Handle, Stream->Position);
    if (EFI_ERROR(status)) {
      // The error indicator stays set for good, so no fill follows that
      // would need the firmware's position.
      Fail(Stream, status);
      return false;
    }
    Stream->FirmwarePosition = Stream->Position;
  }
  if (moved) {
    Stream->BufferStart = Stream->Position;
    Stream->Length = 0;
  } else if (Stream->Length == BUFFER_SIZE) {
    memmove(Stream->Buffer, Stream->Buffer + Stream->Length - KEEP_BACK, KEEP_BACK);
    Stream->BufferStart = Stream->Position - KEEP_BACK;
    Stream->Length = KEEP_BACK;
  }
  UINTN asked = BUFFER_SIZE - Stream->Length;
  UINTN size = asked;
  EFI_STATUS status =
      gShell.Files.ReadFile == nullptr
          ? EFI_UNSUPPORTED
          : gShell.Files.ReadFile(Stream->Handle, &size, Stream->Buffer + Stream->Length);
  if (EFI_ERROR(status)) {
    Stream->FirmwarePosition = UNKNOWN_POSITION;
    if (!PastEnd(Stream)) Fail(Stream, status);
    return false;
  }
  if (size > asked) size = asked;  // a reader never gets more than it asked for
  Stream->Length += size;
  Stream->FirmwarePosition += size;
  if (size == 0) {
    Stream->EndOffset = Stream->FirmwarePosition;
    Stream->Flags |= STREAM_EOF;
    return false;
  }
  return true;
}

// Copies up to Count bytes from the stream's position on; fewer at the end
// of the file or on a failure.
size_t ReadBytes(FILE *Stream, UINT8 *Target, size_t Count) {
  size_t done = 0;
  while (done < Count) {
    // One unsigned comparison: a position before the buffer wraps to an
    // offset far past its length.
    UINT64 offset = Stream->Position - Stream->BufferStart;
    if (offset < Stream->Length) {
      size_t take = Stream->Length - offset;
      if (take > Count - done) take = Count - done;
      memcpy(Target + done, Stream->Buffer + offset, take);
      done += take;
      Stream->Position += take;
    } else if (!Fill(Stream)) {
      break;
    }
  }
  return done;
}

// A stream that cannot be read: none, or a console stream.
bool RefuseRead(FILE *Stream) {
  if (Stream == nullptr) {
    ErrorNumber = LIBC_EINVAL;
    return true;
  }
  if (Stream->Console) {
    Stream->Flags |= STREAM_ERROR;
    ErrorNumber = LIBC_EBADF;
    return true;
  }
  return false;
}

// The open behind both fopen forms: Name in bytes, or Wide in UTF-16. A
// missing name is refused here, for both forms in one place.
FILE *OpenStream(const char *name, const CHAR16 *wide) {
  if (name == nullptr && wide == nullptr) {
    RecordCheckFailure(LIBC_EINVAL);
    return nullptr;
  }
  const Device *device = ShellFileDevice();
  if (device == nullptr) {
    RecordCheckFailure(LIBC_ENODEV);
    return nullptr;
  }
  int descriptor = -1;
  if (gRuntime != nullptr) {
    descriptor = FindFreeDescriptor();
    if (descriptor < 0) return nullptr;
  }
  FILE *stream = static_cast<FILE *>(calloc(1, sizeof(FILE) + BUFFER_SIZE));
  if (stream == nullptr) return nullptr;
  SHELL_FILE_HANDLE handle;
  EFI_STATUS status = OpenByName(name, wide, &handle);
  if (EFI_ERROR(status)) {
    free(stream);
    RecordEfiFailure(status);
    return nullptr;
  }
  stream->Descriptor = descriptor;
  stream->Handle = handle;
  stream->Buffer = reinterpret_cast<UINT8 *>(stream + 1);
  stream->EndOffset = NO_END;
  stream->Next = gOpenStreams;
  gOpenStreams = stream;
  if (descriptor >= 0) gRuntime->Descriptors[descriptor] = {device, stream};
  // A file stream is read-only: it leaves nothing for the run's clean-up
  // routine to write out, so opening one does not set it.
  return stream;
}

}  // namespace

FILE *fopen(const char *name, const char *mode) {
  if (mode == nullptr || !IsReadMode(mode)) {
    RecordCheckFailure(LIBC_EINVAL);
    return nullptr;
  }
  return OpenStream(name, nullptr);
}

IMAGE_INLINE FILE *fopen_utf16(const char16_t *name) {
  return OpenStream(nullptr, name);
}

bool CloseStream(FILE *Stream) {
  // A stream closed already (or never opened) is refused rather than freed
  // a second time; its record is not even looked at.
  FILE **link = &gOpenStreams;
  while (*link != Stream) {
    if (*link == nullptr) {
      ErrorNumber = LIBC_EBADF;
      return false;
    }
    link = &(*link)->Next;
  }
  *link = Stream->Next;
  // A stream opened outside a run has descriptor -1, which as unsigned is
  // past every slot.
  unsigned descriptor = static_cast<unsigned>(Stream->Descriptor);
  if (gRuntime != nullptr && descriptor < DESCRIPTOR_COUNT &&
      gRuntime->Descriptors[descriptor].Stream == Stream) {
    gRuntime->Descriptors[descriptor] = {nullptr, nullptr};
  }
  EFI_STATUS status = gShell.Files.CloseFile == nullptr
                          ? EFI_UNSUPPORTED
                          : gShell.Files.CloseFile(Stream->Handle);
  free(Stream);
  if (EFI_ERROR(status)) {
    RecordEfiFailure(status);
    return false;
  }
  return true;
}

int fclose(FILE *stream) {
  if (stream == nullptr) {
    ErrorNumber = LIBC_EINVAL;
    return EOF;
  }
  if (stream == stdout || stream == stderr) {
    int flushed = fflush(stream);
    return Close(stream->Descriptor) == 0 && flushed == 0 ? 0 : EOF;
  }
  return CloseStream(stream) ? 0 : EOF;
}

int fseek(FILE *stream, long offset, int whence) {
  if (RefuseRead(stream)) return -1;
  UINT64 base;
  if (whence == SEEK_SET) {
    base = 0;
  } else if (whence == SEEK_CUR) {
    base = stream->Position;
  } else if (whence == SEEK_END) {
    UINT64 size = 0;
    EFI_STATUS status = gShell.Files.GetFileSize == nullptr
                            ? EFI_UNSUPPORTED
                            : gShell.Files.GetFileSize(stream->Handle, &size);
    if (EFI_ERROR(status)) {
      Fail(stream, status);
      return -1;
    }
    base = size;
  } else {
    ErrorNumber = LIBC_EINVAL;
    return -1;
  }
  UINT64 target;
  if (offset < 0) {
    UINT64 back = 0ULL - static_cast<UINT64>(static_cast<INT64>(offset));
    if (back > base) {
      ErrorNumber = LIBC_EINVAL;
      return -1;
    }
    target = base - back;
  } else {
    UINT64 ahead = static_cast<UINT64>(offset);
    if (base > POSITION_LIMIT || ahead > POSITION_LIMIT - base) {
      ErrorNumber = LIBC_EOVERFLOW;
      return -1;
    }
    target = base + ahead;
  }
  stream->Position = target;
  stream->Flags &= static_cast<UINT8>(~STREAM_EOF);
  return 0;
}

long ftell(FILE *stream) {
  if (RefuseRead(stream)) return -1;
  if (stream->Position > LONG_LIMIT) {
    ErrorNumber = LIBC_EOVERFLOW;
    return -1;
  }
  return static_cast<long>(stream->Position);
}

size_t fread(void *buffer, size_t size, size_t count, FILE *stream) {
  if (RefuseRead(stream) || size == 0 || count == 0) return 0;
  if (buffer == nullptr || count > static_cast<size_t>(-1) / size) {
    ErrorNumber = LIBC_EINVAL;
    return 0;
  }
  // Both indicators stay set until a seek (end) or for good (error): a
  // reader that ignores them gets nothing more instead of a firmware call.
  if ((stream->Flags & (STREAM_EOF | STREAM_ERROR)) != 0) return 0;
  return ReadBytes(stream, static_cast<UINT8 *>(buffer), size * count) / size;
}

char *fgets(char *buffer, int size, FILE *stream) {
  if (buffer == nullptr || size <= 0) {
    ErrorNumber = LIBC_EINVAL;
    return nullptr;
  }
  if (RefuseRead(stream)) return nullptr;
  if (size == 1) {
    buffer[0] = '\0';
    return buffer;
  }
  if ((stream->Flags & (STREAM_EOF | STREAM_ERROR)) != 0) return nullptr;
  int count = 0;
  while (count < size - 1) {
    UINT8 byte;
    if (ReadBytes(stream, &byte, 1) == 0) break;
    buffer[count++] = static_cast<char>(byte);
    if (byte == '\n') break;
  }
  if ((stream->Flags & STREAM_ERROR) != 0 || count == 0) return nullptr;
  buffer[count] = '\0';
  return buffer;
}

int feof(FILE *stream) { return stream != nullptr && (stream->Flags & STREAM_EOF) != 0; }

int ferror(FILE *stream) { return stream != nullptr && (stream->Flags & STREAM_ERROR) != 0; }

void ReleaseLibraryBuffers() {
  while (gOpenStreams != nullptr) CloseStream(gOpenStreams);
  ResetConsoleStreams();
}

}  // namespace libc
