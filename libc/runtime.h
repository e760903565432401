// The run-time state of one run of `main`: the block the start-up allocates
// before `main` and releases after it. The library reaches it through
// gRuntime; outside a run gRuntime is null, and the library then works
// without descriptors (host tests of the application's readers use it so).
#pragma once

#include "libc/return_point.h"
#include "platform/efi.h"

namespace libc {

struct Device;
struct FILE;

constexpr int DESCRIPTOR_COUNT = 20;
constexpr int ARGUMENT_VECTOR_SIZE = 64;

// One descriptor slot; a null Dev marks it free. A descriptor of the shell
// file device belongs to the stream in Stream.
struct Descriptor {
  const Device *Dev;
  FILE *Stream;
};

struct RuntimeState {
  int ExitStatus;
  Descriptor Descriptors[DESCRIPTOR_COUNT];
  char *Argv[ARGUMENT_VECTOR_SIZE];
  char *ArgumentBuffer;
  // Set once a console stream holds output; writes out every stream's
  // pending output.
  void (*StreamCleanup)();
  bool AbnormalEnd;
  // An abnormal end may resume only while the return point's frame lives.
  bool ReturnPointSet;
  void *ReturnPoint[RETURN_POINT_WORDS];
};

extern RuntimeState *gRuntime;

// Begins a run on a zeroed state block: the error number and the last
// status cleared, the console streams emptied. EndRun detaches the block
// before it is released.
void StartRun(RuntimeState *State);
void EndRun();

// Exit processing for a `main` that returned: stores the exit status and
// runs the stream clean-up routine when one is set.
void ExitProcessing(int ExitStatus);

// Takes the return point, clears the error number, calls Main and runs
// exit processing with its result. An abnormal end inside Main resumes
// here and returns with exit status 1 in the state block.
void RunMain(int (*Main)(int, char **), int Argc, char **Argv);

}  // namespace libc
