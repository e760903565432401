# Cross build of the freestanding UEFI image: clang++ emits COFF objects for
# the firmware's machine, lld-link makes the PE32+ image. No hosted header or
# library takes part; clang's own freestanding headers (stdint.h, stddef.h,
# stdarg.h) are the only ones outside the tree.
#
# BUS_EFI_ARCH picks the machine: x64 (the default) or aarch64. Both are
# 64-bit PE32+ with the same data model, so every source is shared; only the
# code generation and the PE machine field differ.
set(BUS_EFI_ARCH x64 CACHE STRING "Firmware machine of the image: x64 or aarch64")
set_property(CACHE BUS_EFI_ARCH PROPERTY STRINGS x64 aarch64)
if(BUS_EFI_ARCH STREQUAL "x64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(BUS_EFI_LINK_MACHINE x64)
elseif(BUS_EFI_ARCH STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(BUS_EFI_LINK_MACHINE arm64)
else()
  message(FATAL_ERROR "BUS_EFI_ARCH is x64 or aarch64, not '${BUS_EFI_ARCH}'")
endif()
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_CXX_COMPILER clang++)

# The code-generation flags live on the image target (CMakeLists.txt), so a
# CMAKE_CXX_FLAGS given on the command line cannot drop them.
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-DNDEBUG")
set(CMAKE_CXX_OUTPUT_EXTENSION .obj)

find_program(BUS_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
# /Brepro drops the time stamp so two builds of one commit are identical.
set(CMAKE_CXX_LINK_EXECUTABLE
    "${BUS_LLD_LINK} /nologo /machine:${BUS_EFI_LINK_MACHINE} /subsystem:efi_application \
/entry:EfiMain /nodefaultlib /opt:ref /opt:icf /merge:.rdata=.text /Brepro /map:<TARGET>.map \
/out:<TARGET> <OBJECTS>")
