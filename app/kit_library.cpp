// The walk over the kit library. A folder is a kit when its UpdateConfig.ini
// opens; one that has none is listed to enter its subfolders. Every listing is
// untrusted: names are checked before they join a path, and the numbers of
// folders and entries are bounded, so a looping or damaged directory ends
// the walk with a problem instead of running on.
#include "app/kit_library.h"

#include "libc/errno.h"
#include "libc/stdio.h"
#include "libc/string.h"
#include "platform/shell_directory.h"

namespace {

// "\\UpdateConfig.ini", which every folder's path gets when it is read as a kit.
#define CONFIG_SUFFIX u"\\" UPDATE_CONFIG_NAME
constexpr size_t CONFIG_SUFFIX_UNITS = sizeof(CONFIG_SUFFIX) / sizeof(char16_t) - 1;
static_assert(KIT_PATH_LIMIT < KIT_PATH_UNITS, "a kit's path takes the suffix and its NUL");

struct Walker {
  KitVisitor visit;
  void *context;
  LibraryWalk *walk;
  unsigned folders;
  unsigned entries;
  unsigned length;  // units of path in use
  char16_t path[KIT_PATH_UNITS];
};

bool Fail(Walker *walker, LibraryProblem problem) {
  walker->walk->Problem = problem;
  // The whole buffer: a fixed size, where the path's own length costs code.
  static_assert(sizeof(walker->walk->Where) == sizeof(walker->path), "Where holds a path");
  libc::memcpy(walker->walk->Where, walker->path, sizeof(walker->path));
  return false;
}

// The next entry of Folder; false after the problem is recorded.
bool ReadEntry(Walker *walker, SHELL_FILE_HANDLE folder, FOLDER_ENTRY *entry, bool *more) {
  if (++walker->entries > KIT_ENTRY_LIMIT) return Fail(walker, LibraryProblem::TooLarge);
  EFI_STATUS status = ReadFolderEntry(folder, entry, more);
  if (status == EFI_BUFFER_TOO_SMALL) return Fail(walker, LibraryProblem::NameTooLong);
  if (EFI_ERROR(status)) return Fail(walker, LibraryProblem::FolderUnreadable);
  return true;
}

// Reads the folder at the walker's path as a kit. *IsKit is false when it
// holds no UpdateConfig.ini; a file there that cannot be opened or read is
// a problem, since it might have been this machine's kit.
bool ReadKit(Walker *walker, bool *is_kit) {
  // The name goes behind the path, where a path within KIT_PATH_LIMIT
  // leaves room for it, and is taken off again before the path is used.
  char16_t *suffix = walker->path + walker->length;
  libc::memcpy(suffix, CONFIG_SUFFIX, sizeof(CONFIG_SUFFIX));
  libc::FILE *stream = libc::fopen_utf16(walker->path);
  *is_kit = stream != nullptr || libc::ErrorNumber != libc::LIBC_ENOENT;
  // A folder of that name opens too, and reads as its listing.
  bool config_folder = *is_kit && IsFolder(walker->path);
  *suffix = 0;
  if (!*is_kit) return true;
  if (config_folder) {
    if (stream != nullptr) libc::fclose(stream);
    return Fail(walker, LibraryProblem::ConfigFolder);
  }
  UpdateConfig config;
  ConfigResult result = ReadUpdateConfig(stream, &config, true, true);
  // A kit without Version= still names its products; only a file that
  // cannot be read leaves them unknown.
  if (result == ConfigResult::FileNotFound || result == ConfigResult::ReadError) {
    return Fail(walker, LibraryProblem::ConfigUnreadable);
  }
  walker->visit(walker->path, &config, walker->context);
  return true;
}

bool VisitFolder(Walker *walker, unsigned depth);

// Enters every subfolder of the open folder at the walker's path.
bool ListFolder(Walker *walker, SHELL_FILE_HANDLE folder, unsigned depth) {
  FOLDER_ENTRY entry;
  for (;;) {
    bool more = false;
    if (!ReadEntry(walker, folder, &entry, &more)) return false;
    if (!more) return true;
    const char16_t *name = entry.Info.FileName;
    if ((entry.Info.Attribute & EFI_FILE_DIRECTORY) == 0) continue;
    // "." and "..": the folder itself and the one above it.
    if (name[0] == u'.' && (name[1] == u'.' ? name[2] : name[1]) == 0) continue;
    if (!IsNameText(name)) return Fail(walker, LibraryProblem::NameNotText);
    if (++walker->folders > KIT_FOLDER_LIMIT) return Fail(walker, LibraryProblem::TooLarge);
    // Fits: at most four names of at most 255 units below "kits".
    unsigned saved = walker->length;
    walker->path[walker->length++] = u'\\';
    for (const char16_t *unit = name; *unit != 0; ++unit) walker->path[walker->length++] = *unit;
    walker->path[walker->length] = 0;
    // The shell does not open a name with a leading blank, and FAT drops
    // trailing ones: such a folder is not the folder it seems.
    if (name[0] == u' ' || walker->path[walker->length - 1] == u' ') {
      return Fail(walker, LibraryProblem::NameBlank);
    }
    if (walker->length + CONFIG_SUFFIX_UNITS > KIT_PATH_LIMIT) {
      return Fail(walker, LibraryProblem::PathTooLong);
    }
    bool walked = VisitFolder(walker, depth + 1);
    walker->length = saved;
    walker->path[saved] = 0;
    if (!walked) return false;
  }
}

// The folder at the walker's path, Depth levels below kits: a kit, or a
// folder searched further while the depth allows.
bool VisitFolder(Walker *walker, unsigned depth) {
  if (depth > 0) {
    bool is_kit = false;
    if (!ReadKit(walker, &is_kit)) return false;
    if (is_kit || depth == KIT_SEARCH_DEPTH) return true;
  }
  SHELL_FILE_HANDLE folder = nullptr;
  EFI_STATUS status = OpenFolder(walker->path, &folder);
  if (EFI_ERROR(status)) {
    bool missing = depth == 0 && status == EFI_NOT_FOUND;
    return Fail(walker, missing ? LibraryProblem::NoLibrary : LibraryProblem::FolderUnreadable);
  }
  bool walked = ListFolder(walker, folder, depth);
  CloseFolder(folder);
  return walked;
}

}  // namespace

bool IsNameText(const char16_t *name) {
  for (; *name != 0; ++name) {
    if (*name < 0x20 || *name == 0x7F || (*name >= 0xDC00 && *name <= 0xDFFF)) return false;
    if (*name >= 0xD800 && *name <= 0xDBFF) {
      if (name[1] < 0xDC00 || name[1] > 0xDFFF) return false;
      ++name;
    }
  }
  return true;
}

bool WalkKitLibrary(KitVisitor Visit, void *Context, LibraryWalk *Walk) {
  Walk->Problem = LibraryProblem::None;
  Walk->Where[0] = 0;
  Walker walker;
  walker.visit = Visit;
  walker.context = Context;
  walker.walk = Walk;
  walker.folders = 0;
  walker.entries = 0;
  libc::memcpy(walker.path, u"" KIT_LIBRARY_NAME, sizeof(u"" KIT_LIBRARY_NAME));
  walker.length = KIT_LIBRARY_UNITS;
  return VisitFolder(&walker, 0);
}
