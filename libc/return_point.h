// The return point of an abnormal end: taken once before `main`, resumed
// from any depth below it. On x86-64 (the image and the host) the compiler's
// own setjmp intrinsics take it; they keep the frame, the stack pointer and
// the resumption address, and need no library. Clang has no such intrinsics
// for AArch64, so there return_point_aarch64.cpp keeps the callee-saved
// general registers, the frame and link registers and the stack pointer.
// The AArch64 image is built with general registers only, so no
// callee-saved floating-point register can hold a value across the jump.
#pragma once

#if defined(__aarch64__)
extern "C" __attribute__((returns_twice)) int LibcTakeReturnPoint(void **Point);
extern "C" [[noreturn]] void LibcResumeReturnPoint(void **Point);
#define LIBC_TAKE_RETURN_POINT(point) ::LibcTakeReturnPoint(point)
#define LIBC_RESUME_RETURN_POINT(point) ::LibcResumeReturnPoint(point)
#else
#define LIBC_TAKE_RETURN_POINT(point) __builtin_setjmp(point)
#define LIBC_RESUME_RETURN_POINT(point) __builtin_longjmp(point, 1)
#endif

namespace libc {

#if defined(__aarch64__)
// x19 to x28, x29 (frame), x30 (link) and sp.
constexpr int RETURN_POINT_WORDS = 13;
#else
// Words that __builtin_setjmp keeps: frame, resumption address, stack and
// two spare.
constexpr int RETURN_POINT_WORDS = 5;
#endif

}  // namespace libc
