// Reading a library of kits: the folder "kits" of the shell's current
// directory. A kit is a folder under it that holds an UpdateConfig.ini; a
// kit is not searched further, and folders are searched at most
// KIT_SEARCH_DEPTH levels deep. Each kit's configuration is read whole, as
// -product reads it (its model keys included), and handed to a visitor;
// nothing here decides.
#pragma once

#include <stdint.h>

#include "app/file_names.h"
#include "app/update_config.h"

constexpr unsigned KIT_SEARCH_DEPTH = 4;
// Bounds of the search: a damaged or looping listing ends at one of them.
constexpr unsigned KIT_FOLDER_LIMIT = 4096;
constexpr unsigned KIT_ENTRY_LIMIT = 65536;
// The longest path the walk opens below the shell's current directory,
// "kits\...\UpdateConfig.ini". Firmware file systems refuse longer whole
// paths (ovmf's FAT from 258 units on, its leading '\' counted), and a kit
// that cannot be opened stops the library; so a folder whose path would
// pass this bound is a problem of its own, named the same by the image and
// by every plan of it.
constexpr unsigned KIT_PATH_LIMIT = 255;
// The library's own name, which begins every path the walk opens.
constexpr unsigned KIT_LIBRARY_UNITS = sizeof(KIT_LIBRARY_NAME) - 1;
// "kits", then up to four names of up to 255 units, each after a '\'.
constexpr unsigned KIT_PATH_UNITS = KIT_LIBRARY_UNITS + KIT_SEARCH_DEPTH * 256 + 1;

enum class LibraryProblem {
  None,
  NoLibrary,           // no folder "kits"
  FolderUnreadable,    // a listing failed or held a damaged entry
  NameTooLong,         // an entry's name is longer than 255 units
  NameNotText,         // a folder name that is not valid UTF-16 text
  TooLarge,            // beyond KIT_FOLDER_LIMIT folders or KIT_ENTRY_LIMIT entries
  ConfigUnreadable,    // a kit's UpdateConfig.ini could not be read
  NotEntered,          // the shell refused to change to the chosen kit
  PathTooLong,         // a folder's UpdateConfig.ini path is beyond KIT_PATH_LIMIT
  NameBlank,           // a folder name that begins or ends with a blank
  ConfigFolder,        // a folder named UpdateConfig.ini
};

struct LibraryWalk {
  LibraryProblem Problem;
  char16_t Where[KIT_PATH_UNITS];  // the folder (or kit) the problem is in
};

// Called for each kit in listing order: Path is "kits\..." and Config its
// configuration, read with whole values.
typedef void (*KitVisitor)(const char16_t *Path, const UpdateConfig *Config, void *Context);

// Walks the library. False when the walk met a problem (*Walk says which
// and where); kits visited before it were handed over all the same.
bool WalkKitLibrary(KitVisitor Visit, void *Context, LibraryWalk *Walk);

// A name from a listing that can join a path and be shown: surrogates in
// pairs, no control characters.
bool IsNameText(const char16_t *Name);
