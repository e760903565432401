# Cross build of the freestanding UEFI image: clang++ emits COFF objects for
# x86-64 with the Microsoft calling convention, lld-link makes the PE32+
# image. No hosted header or library takes part; clang's own freestanding
# headers (stdint.h, stddef.h, stdarg.h) are the only ones outside the tree.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_CXX_FLAGS_INIT
    "--target=x86_64-unknown-windows -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -mno-red-zone -fno-stack-protector \
-mno-stack-arg-probe -fno-unwind-tables -fno-asynchronous-unwind-tables -fno-builtin \
-ffunction-sections -fdata-sections -Wall -Wextra -Werror")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-Os")
set(CMAKE_CXX_OUTPUT_EXTENSION .obj)

find_program(BUS_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
# /Brepro drops the time stamp so two builds of one commit are identical.
set(CMAKE_CXX_LINK_EXECUTABLE
    "${BUS_LLD_LINK} /nologo /subsystem:efi_application /entry:EfiMain /nodefaultlib \
/opt:ref /opt:icf /Brepro /map:<TARGET>.map /out:<TARGET> <OBJECTS>")
