// -verify: a kit's files against its SHA256SUMS, before anything of the kit
// is trusted. Reads and hashes; tells nothing (explain.cpp says what the
// outcome means) and decides nothing beyond "every listed file matches".
#pragma once

#include <stddef.h>

#include "app/kit_library.h"
#include "app/kit_sums.h"
#include "app/sha256.h"

// Room for a kit's folder, a '\' and a listed path in UTF-16.
constexpr size_t KIT_FILE_UNITS = KIT_PATH_UNITS + 1 + SUMS_PATH_LIMIT + 1;
// Bytes hashed per read of the stream.
constexpr size_t KIT_READ_CHUNK = 64 * 1024;

enum class KitCheckProblem {
  None,
  NoSums,          // the kit's folder holds no SHA256SUMS
  SumsUnreadable,  // it is there but cannot be read (or no memory to read it)
  SumsLine,        // Line cannot be read
  FileUnreadable,  // Where is listed but cannot be read
  FileMismatch,    // Where's bytes are not the listed digest
  NotListed,       // Where, UpdateConfig.ini or an update script, is not listed
};

struct KitCheck {
  KitCheckProblem Problem;
  unsigned Line;                     // SumsLine
  unsigned Files;                    // files listed
  char16_t Where[KIT_FILE_UNITS];    // the kit's folder, or the file a problem names
  char Identity[SHA256_HEX_SIZE];    // SHA-256 of SHA256SUMS: which build of the kit
};

// Called for each file in a kit's own folder that SHA256SUMS does not list
// (SHA256SUMS itself aside), with its name.
typedef void (*UnlistedVisitor)(const char16_t *Path, void *Context);

// Checks the kit in Folder ("" for the shell's current directory, else a
// path such as "kits\A"): with Whole, every listed file, and that
// UpdateConfig.ini and the update scripts are listed when present; else
// UpdateConfig.ini alone. With a visitor, the kit's own folder is then
// listed (bounded like the library) for files that are not in SHA256SUMS. False
// with *Check's problem set when the kit is not intact.
bool CheckKitFiles(const char16_t *Folder, bool Whole, UnlistedVisitor Unlisted, void *Context,
                   KitCheck *Check);
