// The AArch64 return point (see return_point.h): a setjmp and longjmp pair
// for the one jump the C library makes. Taking it stores the registers a
// called function must preserve, with the link register as the resumption
// address; resuming loads them back and returns a second time from the
// take, with 1. Word layout: x19..x28 at 0..72, x29 at 80, x30 at 88, sp at
// 96, matching RETURN_POINT_WORDS.
asm(R"(
    .text
    .p2align 2
    .globl LibcTakeReturnPoint
LibcTakeReturnPoint:
    stp x19, x20, [x0, #0]
    stp x21, x22, [x0, #16]
    stp x23, x24, [x0, #32]
    stp x25, x26, [x0, #48]
    stp x27, x28, [x0, #64]
    stp x29, x30, [x0, #80]
    mov x16, sp
    str x16, [x0, #96]
    mov w0, #0
    ret

    .p2align 2
    .globl LibcResumeReturnPoint
LibcResumeReturnPoint:
    ldp x19, x20, [x0, #0]
    ldp x21, x22, [x0, #16]
    ldp x23, x24, [x0, #32]
    ldp x25, x26, [x0, #48]
    ldp x27, x28, [x0, #64]
    ldp x29, x30, [x0, #80]
    ldr x16, [x0, #96]
    mov sp, x16
    mov w0, #1
    ret
)");
