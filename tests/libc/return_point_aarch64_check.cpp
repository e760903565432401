// Bare-metal check of the AArch64 return point (libc/return_point_aarch64.cpp)
// on QEMU's generic ARM board: no firmware, no MMU, output and exit through
// semihosting. The image reaches the resume only on an abnormal end, which a
// release build never takes, so it is run here on its own: the registers a
// function must preserve, the frame and the stack pointer come back as they
// were taken, from several frames down, and the take returns a second time
// with 1. The exit status is 0, or the number of the first check that failed.
#include <stdint.h>

extern "C" int LibcTakeReturnPoint(void **Point);
extern "C" [[noreturn]] void LibcResumeReturnPoint(void **Point);
extern "C" int CheckCalleeSaved();

extern "C" {
void *gPoint[13];
unsigned gDepthReached;
}

// Frames below the take, each with its own room on the stack and its own
// values in the callee-saved registers, left without returning.
extern "C" [[noreturn]] __attribute__((noinline)) void Clobber(unsigned Depth) {
  volatile char room[48];
  room[Depth % sizeof(room)] = static_cast<char>(Depth);
  if (Depth > 0) Clobber(Depth - 1);
  gDepthReached = 1;
  __asm__ volatile(
      "mov x19, #0xdead\n mov x20, x19\n mov x21, x19\n mov x22, x19\n mov x23, x19\n"
      "mov x24, x19\n mov x25, x19\n mov x26, x19\n mov x27, x19\n mov x28, x19\n" ::
          : "x19", "x20", "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "memory");
  LibcResumeReturnPoint(gPoint);
}

// CheckCalleeSaved: sets x19..x28 to known values and x29 to the stack
// pointer, takes the return point, goes five frames down and resumes from
// there. Returns 0 when the take came back a second time with 1 and every
// one of those registers, and the stack pointer, as they were; otherwise
// the number of the first check that failed.
asm(R"(
    .text
    .p2align 2
    .globl CheckCalleeSaved
CheckCalleeSaved:
    stp x29, x30, [sp, #-96]!
    stp x19, x20, [sp, #16]
    stp x21, x22, [sp, #32]
    stp x23, x24, [sp, #48]
    stp x25, x26, [sp, #64]
    stp x27, x28, [sp, #80]
    mov x29, sp
    mov x19, #19
    mov x20, #20
    mov x21, #21
    mov x22, #22
    mov x23, #23
    mov x24, #24
    mov x25, #25
    mov x26, #26
    mov x27, #27
    mov x28, #28
    adrp x0, gPoint
    add x0, x0, :lo12:gPoint
    bl LibcTakeReturnPoint
    cbnz w0, 1f
    mov w0, #5
    bl Clobber
    mov w0, #100
    b 9f
1:  cmp w0, #1
    mov w0, #101
    b.ne 9f
    mov w0, #102
    mov x9, sp
    cmp x9, x29
    b.ne 9f
    mov w0, #19
    cmp x19, #19
    b.ne 9f
    mov w0, #20
    cmp x20, #20
    b.ne 9f
    mov w0, #21
    cmp x21, #21
    b.ne 9f
    mov w0, #22
    cmp x22, #22
    b.ne 9f
    mov w0, #23
    cmp x23, #23
    b.ne 9f
    mov w0, #24
    cmp x24, #24
    b.ne 9f
    mov w0, #25
    cmp x25, #25
    b.ne 9f
    mov w0, #26
    cmp x26, #26
    b.ne 9f
    mov w0, #27
    cmp x27, #27
    b.ne 9f
    mov w0, #28
    cmp x28, #28
    b.ne 9f
    mov w0, #0
9:  ldp x19, x20, [sp, #16]
    ldp x21, x22, [sp, #32]
    ldp x23, x24, [sp, #48]
    ldp x25, x26, [sp, #64]
    ldp x27, x28, [sp, #80]
    ldp x29, x30, [sp], #96
    ret

    .globl _start
_start:
    adrp x0, gStackTop
    add x0, x0, :lo12:gStackTop
    mov sp, x0
    bl CheckMain
    /* Semihosting SYS_EXIT_EXTENDED: application exit with code w0. */
    adrp x1, gExitBlock
    add x1, x1, :lo12:gExitBlock
    str x0, [x1, #8]
    mov w0, #0x20
    hlt #0xf000
2:  b 2b
)");

extern "C" {
alignas(16) char gStack[16384];
extern char gStackTop[];
uint64_t gExitBlock[2] = {0x20026, 0};
}
asm(R"(
    .data
    .globl gStackTop
    .set gStackTop, gStack + 16384
)");

namespace {

void Say(const char *Text) {
  register uint64_t op __asm__("x0") = 0x04;  // SYS_WRITE0
  register const char *text __asm__("x1") = Text;
  __asm__ volatile("hlt #0xf000" : : "r"(op), "r"(text) : "memory");
}

}  // namespace

extern "C" int CheckMain() {
  int failed = CheckCalleeSaved();
  if (failed == 0 && gDepthReached == 1) {
    Say("return point: resumed from 6 frames down, registers and stack as taken\n");
    return 0;
  }
  Say("return point: FAILED\n");
  return failed != 0 ? failed : 99;
}
