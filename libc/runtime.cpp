// The run of `main` and its abnormal end. The return point
// (return_point.h) keeps no more than a called function must preserve, so
// every value that must survive the jump lives in the run-time state block.
#include "libc/runtime.h"

#include "libc/errno.h"
#include "libc/stdlib.h"
#include "libc/stream_internal.h"

// The jump skips the frames between abort and the return point; under
// AddressSanitizer their stack poisoning must be dropped first.
#if defined(__SANITIZE_ADDRESS__)
#define LIBC_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LIBC_UNDER_ASAN 1
#endif
#endif
#if defined(LIBC_UNDER_ASAN)
extern "C" void __asan_handle_no_return(void);
#endif

namespace libc {

RuntimeState *gRuntime = nullptr;

void StartRun(RuntimeState *State) {
  gRuntime = State;
  // The error number starts at 0 where the program starts (RunMain), after
  // the standard descriptors are opened.
  LastEfiStatus = EFI_SUCCESS;
  ResetConsoleStreams();
}

void EndRun() { gRuntime = nullptr; }

void ExitProcessing(int ExitStatus) {
  gRuntime->ExitStatus = ExitStatus;
  if (gRuntime->StreamCleanup != nullptr) gRuntime->StreamCleanup();
}

// Kept out of line: the return point refers to this frame, which must stay
// alive for as long as `main` runs, and the jump must come from a deeper
// function than the one that took the return point.
__attribute__((noinline)) void RunMain(int (*Main)(int, char **), int Argc, char **Argv) {
  if (LIBC_TAKE_RETURN_POINT(gRuntime->ReturnPoint) == 0) {
    gRuntime->ReturnPointSet = true;
    ErrorNumber = 0;
    int result = Main(Argc, Argv);
    ExitProcessing(result);
  }
  gRuntime->ReturnPointSet = false;
}

void abort() {
  RuntimeState *state = gRuntime;
  if (state == nullptr || !state->ReturnPointSet) {
    // Outside `main` there is no frame to resume; stop here rather than
    // run on in a state nobody expects.
    __builtin_trap();
  }
  if (!state->AbnormalEnd) {
    state->AbnormalEnd = true;
    if (state->StreamCleanup != nullptr) state->StreamCleanup();
  }
  state->ExitStatus = 1;
#if defined(LIBC_UNDER_ASAN)
  __asan_handle_no_return();
#endif
  LIBC_RESUME_RETURN_POINT(state->ReturnPoint);
}

}  // namespace libc
