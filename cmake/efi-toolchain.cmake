# Cross build of the freestanding UEFI image: clang++ emits COFF objects for
# x86-64 with the firmware calling convention (ms_abi), lld-link makes the PE32+
# image. No hosted header or library takes part; clang's own freestanding
# headers (stdint.h, stddef.h, stdarg.h) are the only ones outside the tree.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_CXX_COMPILER clang++)

# The code-generation flags live on the image target (CMakeLists.txt), so a
# CMAKE_CXX_FLAGS given on the command line cannot drop them.
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-DNDEBUG")
set(CMAKE_CXX_OUTPUT_EXTENSION .obj)

find_program(BUS_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
# /Brepro drops the time stamp so two builds of one commit are identical.
set(CMAKE_CXX_LINK_EXECUTABLE
    "${BUS_LLD_LINK} /nologo /subsystem:efi_application /entry:EfiMain /nodefaultlib \
/opt:ref /opt:icf /merge:.rdata=.text /Brepro /map:<TARGET>.map /out:<TARGET> <OBJECTS>")
