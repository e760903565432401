set(LIBC_SOURCES
  libc/assert.cpp
  libc/console_stream.cpp
  libc/devices.cpp
  libc/errno.cpp
  libc/runtime.cpp
  libc/stdlib.cpp
  libc/stream.cpp
  libc/string.cpp
)
# Linked into the image only: the standard names exported from the namespace.
set(LIBC_IMAGE_ONLY_SOURCES
  libc/exports.cpp
)
# Linked into the AArch64 image only: the abnormal end's return point, for
# which the compiler has no intrinsics on that machine.
set(LIBC_AARCH64_IMAGE_ONLY_SOURCES
  libc/return_point_aarch64.cpp
)
