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

UINT8 gOutputBuffer[CONSOLE_BUFFER];
UINT8 gErrorBuffer[CONSOLE_BUFFER];
// Constant-initialised, so no constructor runs; only Flags and Length ever
// change.
FILE gOutput = {nullptr, 1, true, true, 0, nullptr, gOutputBuffer, CONSOLE_BUFFER, 0, 0, 0, 0,
                false, 0};
FILE gError = {nullptr, 2, true, false, 0, nullptr, gErrorBuffer, CONSOLE_BUFFER, 0, 0, 0, 0,
               false, 0};

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
  bool output = WriteOut(&gOutput);
  bool error = WriteOut(&gError);
  return output && error;
}

}  // namespace

FILE *const stdout = &gOutput;
FILE *const stderr = &gError;

// Called at the start of a run and when the buffers are released: one copy
// out of line costs less than the stores written twice.
__attribute__((noinline)) void ResetConsoleStreams() {
  gOutput.Flags = 0;
  gOutput.Length = 0;
  gError.Flags = 0;
  gError.Length = 0;
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
