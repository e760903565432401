set(PLATFORM_SOURCES
  platform/globals.cpp
  platform/console.cpp
  platform/shell_access.cpp
  platform/shell_directory.cpp
  platform/entry.cpp
  platform/record_file.cpp
  platform/utf8.cpp
)
# Linked into the image only: the PE entry symbol.
set(PLATFORM_IMAGE_ONLY_SOURCES
  platform/efi_main.cpp
)
