set(LIBC_SOURCES
  libc/stream.cpp
  libc/string.cpp
)
# Linked into the image only: the standard names exported from the namespace.
set(LIBC_IMAGE_ONLY_SOURCES
  libc/exports.cpp
)
