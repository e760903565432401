// Checking a kit against its SHA256SUMS. Files are read through the C
// library's streams into one pool block, KIT_READ_CHUNK bytes at a time,
// so a flash image of any size costs the same memory; SHA256SUMS itself is
// read whole, at most SUMS_SIZE_LIMIT bytes. A file that cannot be opened
// or read to its end is a problem of its own: a stick that lost a sector
// is not a match.
#include "app/kit_verify.h"

#include "app/file_names.h"
#include "libc/errno.h"
#include "libc/stdio.h"
#include "libc/stdlib.h"
#include "libc/string.h"
#include "platform/shell_directory.h"
#include "platform/utf8.h"

namespace {

// The kit's decision files: listed when present, or the kit is refused.
// Texts the image holds for other uses already, so they cost no bytes here;
// chosen in code, as a table of their addresses would need the loader to
// fix each one.
constexpr int DECISION_FILE_COUNT = 3;
const char *DecisionFile(int index) {
  return index == 0   ? UPDATE_CONFIG_NAME
         : index == 1 ? UPDATE_SCRIPT_OLD_NAME
                      : UPDATE_SCRIPT_NEW_NAME;
}

struct Work {
  KitCheck *check;
  size_t folder;  // units of the kit's folder in check->Where
  UnlistedVisitor unlisted;
  void *context;
  unsigned count;
  SumsEntry entries[SUMS_LINE_LIMIT];
  char chunk[KIT_READ_CHUNK];
  char text[SUMS_SIZE_LIMIT + 2];  // SHA256SUMS, one byte past the bound, room for a NUL
};

// Sets Where to the kit's folder, then '\' and Path (UTF-8, '/' as '\')
// when given, and opens that file. Null when it cannot be opened.
libc::FILE *Open(Work *work, const char *path) {
  char16_t *at = work->check->Where + work->folder;
  *at = 0;
  if (path == nullptr) return nullptr;
  if (work->folder != 0) *at++ = u'\\';
  Utf8ToUtf16(path, at, SUMS_PATH_LIMIT);
  return libc::fopen_utf16(work->check->Where);
}

bool Fail(Work *work, KitCheckProblem problem) {
  work->check->Problem = problem;
  return false;
}

// Reads the open Stream to its end into Hash; false when a read fails.
bool HashStream(Work *work, libc::FILE *stream, Sha256 *hash) {
  Sha256Begin(hash);
  for (size_t got; (got = libc::fread(work->chunk, 1, KIT_READ_CHUNK, stream)) != 0;) {
    Sha256Add(hash, work->chunk, got);
  }
  bool read = libc::ferror(stream) == 0;
  libc::fclose(stream);
  return read;
}

bool CheckFile(Work *work, const SumsEntry *entry) {
  libc::FILE *stream = Open(work, entry->Path);
  Sha256 hash;
  if (stream == nullptr || !HashStream(work, stream, &hash)) {
    return Fail(work, KitCheckProblem::FileUnreadable);
  }
  char hex[SHA256_HEX_SIZE];
  Sha256End(&hash, hex);
  return libc::memcmp(hex, entry->Digest, SHA256_HEX_SIZE - 1) == 0 ||
         Fail(work, KitCheckProblem::FileMismatch);
}

const SumsEntry *Listed(const Work *work, const char *path) {
  return FindSumsEntry(work->entries, work->count, path);
}

bool ReadSums(Work *work) {
  libc::FILE *stream = Open(work, KIT_SUMS_NAME);
  if (stream == nullptr) {
    if (libc::ErrorNumber != libc::LIBC_ENOENT) return Fail(work, KitCheckProblem::SumsUnreadable);
    Open(work, nullptr);
    return Fail(work, KitCheckProblem::NoSums);
  }
  size_t size = libc::fread(work->text, 1, SUMS_SIZE_LIMIT + 1, stream);
  bool read = libc::ferror(stream) == 0;
  libc::fclose(stream);
  if (!read) return Fail(work, KitCheckProblem::SumsUnreadable);
  bool cut = size > SUMS_SIZE_LIMIT;
  if (cut) size = SUMS_SIZE_LIMIT;
  Sha256 hash;
  Sha256Begin(&hash);
  Sha256Add(&hash, work->text, size);
  Sha256End(&hash, work->check->Identity);
  work->check->Line = ParseKitSums(work->text, size, cut, work->entries, &work->count);
  work->check->Files = work->count;
  return work->check->Line == 0 || Fail(work, KitCheckProblem::SumsLine);
}

// Lists the kit's own folder (in Where) for files SHA256SUMS does not
// list; a damaged or looping listing ends at the library's bound.
void FindUnlisted(Work *work) {
  SHELL_FILE_HANDLE folder = nullptr;
  if (EFI_ERROR(OpenFolder(work->folder == 0 ? u"." : work->check->Where, &folder))) return;
  FOLDER_ENTRY entry;
  bool more = true;
  for (unsigned read = 0; ++read <= KIT_ENTRY_LIMIT &&
                          !EFI_ERROR(ReadFolderEntry(folder, &entry, &more)) && more;) {
    const char16_t *name = entry.Info.FileName;
    if ((entry.Info.Attribute & EFI_FILE_DIRECTORY) != 0 || !IsNameText(name)) continue;
    // The name as SHA256SUMS would list it: at most 255 units, three bytes each.
    char path[FOLDER_NAME_LIMIT * 3 + 1];
    path[Utf16ToUtf8(name, path, sizeof(path) - 1, false)] = '\0';
    if (!SamePath(KIT_SUMS_NAME, path) && Listed(work, path) == nullptr) {
      work->unlisted(name, work->context);
    }
  }
  CloseFolder(folder);
}

bool CheckAll(Work *work, bool whole) {
  if (!ReadSums(work)) return false;
  for (int i = 0; i < DECISION_FILE_COUNT; ++i) {
    const char *name = DecisionFile(i);
    const SumsEntry *entry = Listed(work, name);
    if (entry == nullptr) {
      // Not listed and not there is no kit file at all.
      libc::FILE *stream = Open(work, name);
      if (stream != nullptr) libc::fclose(stream);
      if (stream != nullptr || libc::ErrorNumber != libc::LIBC_ENOENT) {
        return Fail(work, KitCheckProblem::NotListed);
      }
    } else if (!whole) {
      return CheckFile(work, entry);  // UpdateConfig.ini alone, while a kit is chosen
    }
  }
  for (unsigned i = 0; i < work->count; ++i) {
    if (!CheckFile(work, &work->entries[i])) return false;
  }
  Open(work, nullptr);
  if (work->unlisted != nullptr) FindUnlisted(work);
  return true;
}

}  // namespace

bool CheckKitFiles(const char16_t *Folder, bool Whole, UnlistedVisitor Unlisted, void *Context,
                   KitCheck *Check) {
  // Line, Files and Identity are filled as SHA256SUMS is read.
  Check->Problem = KitCheckProblem::SumsUnreadable;
  size_t folder = 0;
  for (; Folder[folder] != 0 && folder < KIT_PATH_UNITS - 1; ++folder) {
    Check->Where[folder] = Folder[folder];
  }
  Check->Where[folder] = 0;
  Work *work = static_cast<Work *>(libc::malloc(sizeof(Work)));
  if (work == nullptr) return false;
  Check->Problem = KitCheckProblem::None;
  work->check = Check;
  work->folder = folder;
  work->unlisted = Unlisted;
  work->context = Context;
  work->count = 0;
  bool intact = CheckAll(work, Whole);
  libc::free(work);
  return intact;
}
