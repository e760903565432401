// Standard output and standard error: static stream records over
// descriptors 1 and 2, each with a small static buffer, so that writing a
// line costs no pool memory. Standard output goes out at each LF, when its
// buffer is full, and at the stream clean-up; standard error at the end of
// every call. Once a write fails the pending bytes are dropped, so a
// broken console is never written to in a loop.
#include "libc/devices.h"
#include "libc/errno.h"
#include "libc/runtime.h"
#include "libc/stream_internal.h"
#include "libc/string.h"

namespace libc {

namespace {

constexpr size_t CONSOLE_BUFFER = 128;

// Standard output, then standard error. Zero until a run starts: an image
// with no initialised writable data has no data section in its file, and no
// address in it for the loader to fix. Outside a run the streams are not
// consoles, so a write is refused.
UINT8 gConsoleBuffers[2][CONSOLE_BUFFER];
FILE gConsoleStreams[2];

bool WritePending(FILE *Stream) {
  if (Stream->Length == 0) return true;
  size_t consumed = 0;
  if (!WriteConsole(Stream->Descriptor, reinterpret_cast<const char *>(Stream->Buffer),
                    Stream->Length, &consumed)) {
    Stream->Length = 0;
    Stream->Flags |= STREAM_ERROR;
    return false;
  }
  // What stays is the start of a character cut by the buffer's end.
  Stream->Length -= consumed;
  memmove(Stream->Buffer, Stream->Buffer + consumed, Stream->Length);
  return true;
}

// Set by fputs, the one call that leaves output pending. Until it runs
// there is nothing to write out, and an image that never writes to a
// console stream carries no console writer at all.
bool (*gWriteOut)(FILE *Stream) = nullptr;

bool WriteOut(FILE *Stream) { return gWriteOut == nullptr || gWriteOut(Stream); }

// File streams are read-only, so only the console streams hold output.
bool WriteAllPending() {
  bool output = WriteOut(&gConsoleStreams[0]);
  bool error = WriteOut(&gConsoleStreams[1]);
  return output && error;
}

}  // namespace

FILE *const stdout = &gConsoleStreams[0];
FILE *const stderr = &gConsoleStreams[1];

// Called at the start of a run and when the buffers are released: one copy
// out of line costs less than the stores written twice. Only these fields
// of a console stream are ever set.
__attribute__((noinline)) void ResetConsoleStreams() {
  for (int i = 0; i < 2; ++i) {
    FILE *stream = &gConsoleStreams[i];
    stream->Descriptor = i + 1;
    stream->Console = true;
    stream->LineBuffered = i == 0;
    stream->Flags = 0;
    stream->Buffer = gConsoleBuffers[i];
    stream->Capacity = CONSOLE_BUFFER;
    stream->Length = 0;
  }
}

int fputs(const char *text, FILE *stream) {
  if (text == nullptr || stream == nullptr) {
    ErrorNumber = LIBC_EINVAL;
    return EOF;
  }
  if (!stream->Console) {
    stream->Flags |= STREAM_ERROR;
    ErrorNumber = LIBC_EBADF;
    return EOF;
  }
  if (OutputConsole(stream->Descriptor) == nullptr) {
    stream->Flags |= STREAM_ERROR;
    ErrorNumber = LIBC_EBADF;
    return EOF;
  }
  UseStreams();
  gWriteOut = WritePending;
  size_t length = strlen(text);
  size_t at = 0;
  while (at < length) {
    size_t take = stream->Capacity - stream->Length;
    if (take > length - at) take = length - at;
    memcpy(stream->Buffer + stream->Length, text + at, take);
    stream->Length += take;
    bool lineEnd = false;
    for (size_t i = 0; i < take; ++i) lineEnd = lineEnd || text[at + i] == '\n';
    at += take;
    bool full = stream->Length == stream->Capacity;
    if ((full || lineEnd || !stream->LineBuffered) && !WritePending(stream)) return EOF;
  }
  return 0;
}

int fflush(FILE *stream) {
  if (stream == nullptr) return WriteAllPending() ? 0 : EOF;
  // Read streams have nothing to write out.
  if (!stream->Console) return 0;
  return WriteOut(stream) ? 0 : EOF;
}

void FlushAllStreams() { WriteAllPending(); }

void UseStreams() {
  if (gRuntime != nullptr && gRuntime->StreamCleanup == nullptr) {
    gRuntime->StreamCleanup = FlushAllStreams;
  }
}

}  // namespace libc
