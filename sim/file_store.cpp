// The files the simulated shell serves: in-memory files added by tests (or
// written by the application on a writable volume) and, behind them, a
// read-only host folder that plays the shell's current directory. Names are matched without regard to case, as on the FAT
// volumes the shell reads from. A host file is read whole when it is
// opened, so the handle sees one consistent content.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <unordered_set>

#include "app/file_names.h"
#include "sim/host_file.h"
#include "sim/internal.h"

namespace sim {
namespace {

bool SamePath(const std::vector<std::string> &a, const std::vector<std::string> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!NamesEqualIgnoringCase(a[i], b[i])) return false;
  }
  return true;
}

bool IsPrefix(const std::vector<std::string> &prefix, const std::vector<std::string> &path) {
  if (prefix.size() >= path.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!NamesEqualIgnoringCase(prefix[i], path[i])) return false;
  }
  return true;
}

bool LookupHost(const std::string &root, const std::vector<std::string> &path, FileLookup *out) {
  std::string current = root;
  for (const std::string &part : path) {
    std::string entry;
    if (!FindFolderEntry(current, part, &entry)) return false;
    current += "/" + entry;
    out->path.push_back(entry);
  }
  out->found = true;
  struct stat info;
  if (stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    out->is_dir = true;
    return true;
  }
  // The name is there: a file whose content cannot be had (a link to
  // nothing, a FIFO or device in its place, a read error, too large) is a
  // file whose reads fail, as a damaged file on a medium is.
  std::string why;
  out->unreadable = !ReadRegularFile(current, HOST_FILE_LIMIT, &out->bytes, &why);
  if (out->unreadable) out->bytes.clear();
  return true;
}

// The entries of the host folder that `path` names, sorted by name.
void ListHost(const std::string &root, const std::vector<std::string> &path,
              std::vector<ListingEntry> *entries) {
  std::string current = root;
  for (const std::string &part : path) current += "/" + part;
  DIR *dir = opendir(current.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (struct dirent *item = readdir(dir)) {
    std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    struct stat info;
    if (stat((current + "/" + name).c_str(), &info) != 0) continue;
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
    ListingEntry entry;
    entry.name = ToUtf16(name);
    entry.is_dir = S_ISDIR(info.st_mode);
    entry.size = entry.is_dir ? 0 : static_cast<uint64_t>(info.st_size);
    entries->push_back(entry);
  }
}

// The names a listing holds, case folded as FAT folds them: each entry is
// looked up once, so a folder of many thousand entries lists in linear time.
struct ListedNames {
  std::unordered_set<std::string> folded;

  static std::string Fold(const std::u16string &name) {
    std::string text = ToUtf8(name);
    for (char &c : text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
  }
  // True when the name was not listed yet (it is now).
  bool Add(const std::u16string &name) { return folded.insert(Fold(name)).second; }
};

}  // namespace

void Firmware::State::FillListing(SimFile *folder) const {
  std::vector<ListingEntry> &entries = folder->listing;
  entries.clear();
  if (!folder->path.empty()) {
    ListingEntry dot;
    dot.name = u".";
    dot.is_dir = true;
    entries.push_back(dot);
    dot.name = u"..";
    entries.push_back(dot);
  }
  size_t depth = folder->path.size();
  std::vector<ListingEntry> own;
  ListedNames listed;
  for (const auto &file : memory_files) {
    if (!IsPrefix(folder->path, file.first)) continue;
    ListingEntry entry;
    entry.name = ToUtf16(file.first[depth]);
    entry.is_dir = file.first.size() > depth + 1;
    entry.size = entry.is_dir ? 0 : file.second.size();
    if (listed.Add(entry.name)) own.push_back(entry);
  }
  bool in_kits = !options.kits_dir.empty() && !folder->path.empty() &&
                 NamesEqualIgnoringCase(folder->path[0], KIT_LIBRARY_NAME);
  if (!options.kits_dir.empty() && folder->path.empty()) {
    ListingEntry kits;
    kits.name = u"" KIT_LIBRARY_NAME;
    kits.is_dir = true;
    if (listed.Add(kits.name)) own.push_back(kits);
  }
  if (in_kits) {
    std::vector<ListingEntry> host;
    ListHost(options.kits_dir, {folder->path.begin() + 1, folder->path.end()}, &host);
    for (const ListingEntry &entry : host) {
      if (listed.Add(entry.name)) own.push_back(entry);
    }
  } else if (!options.dir.empty()) {
    std::vector<ListingEntry> host;
    ListHost(options.dir, folder->path, &host);
    for (const ListingEntry &entry : host) {
      if (listed.Add(entry.name)) own.push_back(entry);
    }
  }
  entries.insert(entries.end(), own.begin(), own.end());
  folder->endless = false;
  for (const auto &damage : folder_damage) {
    if (!SamePath(damage.first, folder->path)) continue;
    ListingEntry entry;
    entry.is_dir = true;
    switch (damage.second) {
      case FolderDamage::EndlessListing:
        folder->endless = true;
        break;
      case FolderDamage::NameNotUtf16:
        entry.name = u"kit";
        entry.name += static_cast<char16_t>(0xD800);
        entries.push_back(entry);
        break;
      case FolderDamage::NameWithoutEnd:
        entry.name = u"damaged";
        entry.reported_size = offsetof(EFI_FILE_INFO, FileName) + 4 * sizeof(CHAR16);
        entries.push_back(entry);
        break;
    }
  }
}

EFI_STATUS Firmware::State::ChangeDirectory(const std::u16string &name) {
  FileLookup found = Lookup(SplitPath(ToUtf8(name), current_directory));
  if (!found.found || !found.is_dir) return EFI_NOT_FOUND;
  current_directory = found.path;
  return EFI_SUCCESS;
}

std::u16string Firmware::State::CurrentDirectoryText() const {
  std::u16string text;
  for (const std::string &part : current_directory) {
    text += (text.empty() ? u"" : u"\\") + ToUtf16(part);
  }
  return text;
}

void Firmware::DamageFolder(const std::string &folder, FolderDamage damage) {
  state_->folder_damage.emplace_back(SplitPath(folder, {}), damage);
}

std::u16string Firmware::CurrentDirectory() const { return state_->CurrentDirectoryText(); }

FileLookup Firmware::State::Lookup(const std::vector<std::string> &path) const {
  FileLookup result;
  if (path.empty()) {
    result.found = true;
    result.is_dir = true;
    result.in_memory = true;
    return result;
  }
  result.in_memory = true;
  for (const auto &file : memory_files) {
    if (SamePath(file.first, path)) {
      result.found = true;
      result.path = file.first;
      result.bytes = file.second;
      return result;
    }
  }
  for (const auto &file : memory_files) {
    if (IsPrefix(path, file.first)) {
      result.found = true;
      result.is_dir = true;
      result.path.assign(file.first.begin(), file.first.begin() + path.size());
      return result;
    }
  }
  result.in_memory = false;
  if (!options.kits_dir.empty() && NamesEqualIgnoringCase(path[0], KIT_LIBRARY_NAME)) {
    FileLookup host;
    if (!LookupHost(options.kits_dir, {path.begin() + 1, path.end()}, &host)) return result;
    host.path.insert(host.path.begin(), KIT_LIBRARY_NAME);
    return host;
  }
  if (!options.dir.empty()) {
    FileLookup host;
    if (LookupHost(options.dir, path, &host)) return host;
  }
  return result;
}

void Firmware::State::StoreFile(const SimFile &file) {
  for (auto &stored : memory_files) {
    if (SamePath(stored.first, file.path)) {
      stored.second = file.bytes;
      return;
    }
  }
}

SimFile *Firmware::State::NewFile(const FileLookup &found) {
  files.push_back(std::make_unique<SimFile>());
  SimFile *file = files.back().get();
  SetUpFileProtocol(&file->protocol);
  file->is_dir = found.is_dir;
  file->path = found.path;
  file->bytes = found.bytes;
  file->unreadable = found.unreadable;
  file_addresses.insert(file);
  return file;
}

SimFile *Firmware::State::CheckFile(const void *handle, const char *operation) {
  if (handle == nullptr) return nullptr;
  if (file_addresses.count(handle) == 0) {
    Error(std::string(operation) + " on a file handle this firmware never opened");
    return nullptr;
  }
  SimFile *file = static_cast<SimFile *>(const_cast<void *>(handle));
  if (!file->open) {
    Error(std::string(operation) + " on a file handle already closed");
    return nullptr;
  }
  return file;
}

void Firmware::AddFile(const std::string &name, const std::string &bytes) {
  std::vector<std::string> path = SplitPath(name, {});
  for (auto &file : state_->memory_files) {
    if (SamePath(file.first, path)) {
      file.second = bytes;
      return;
    }
  }
  state_->memory_files.emplace_back(path, bytes);
}

bool Firmware::ReadFile(const std::string &name, std::string *bytes) const {
  std::vector<std::string> path = SplitPath(name, {});
  for (const auto &file : state_->memory_files) {
    if (SamePath(file.first, path)) {
      *bytes = file.second;
      return true;
    }
  }
  return false;
}

size_t Firmware::OpenFileHandles() const {
  size_t open = 0;
  for (const auto &file : state_->files) open += file->open ? 1 : 0;
  return open;
}

}  // namespace sim
