// The stream record shared by the file streams (libc/stream.cpp), the
// console streams (libc/console_stream.cpp) and the descriptor layer.
#pragma once

#include "libc/stdio.h"
#include "platform/efi.h"

namespace libc {

constexpr UINT8 STREAM_EOF = 1;
constexpr UINT8 STREAM_ERROR = 2;

struct FILE {
  FILE *Next;         // open file streams, newest first
  int Descriptor;     // -1 for a file stream opened outside a run
  bool Console;       // standard output or standard error
  bool LineBuffered;  // console streams: write out at LF, else after each call
  UINT8 Flags;
  void *Handle;       // the shell file handle
  UINT8 *Buffer;
  size_t Capacity;    // console streams; a file stream's is always BUFFER_SIZE
  size_t Length;      // bytes held: read data, or console output not written yet
  // File streams: Buffer[0] holds the byte at file offset BufferStart.
  UINT64 BufferStart;
  UINT64 Position;          // where the next read starts
  // Where the firmware's file position stands; ~0 (never a position a seek
  // allows) when a failed call left it unknown.
  UINT64 FirmwarePosition;
  UINT64 EndOffset;         // where a read found the end; ~0 until then
};

// Closes a file stream's handle, frees its descriptor and its memory.
// False when the firmware reported a failure on the close, or (EBADF,
// nothing touched) when Stream is no open file stream.
bool CloseStream(FILE *Stream);

// The stream clean-up routine: writes out every stream's pending output.
void FlushAllStreams();

// Makes FlushAllStreams the run's clean-up routine; called once a console
// stream holds output (file streams are read-only and never do).
void UseStreams();

// Console streams back to their initial state, for a new run.
void ResetConsoleStreams();

}  // namespace libc
