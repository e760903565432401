// What the simulated firmware's own files share: the state behind a
// Firmware object, the records of the handle database and of open files,
// and the EFIAPI entry points each file provides. Nothing outside sim/
// includes this header.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "sim/firmware.h"

namespace sim {

// Values of the platform that the product never names.
constexpr EFI_STATUS EFI_NOT_READY = EFI_ERROR_BIT | 6;
constexpr EFI_STATUS EFI_WARN_DELETE_FAILURE = 2;
constexpr UINT64 EFI_FILE_READ_ONLY = 0x01;
constexpr UINT64 EFI_FILE_ARCHIVE = 0x20;

// A handle is the address of one of these. The first word is a value no
// handle ever has, so a handle passed where a reference to a handle belongs
// reads as an invalid handle instead of as a plausible one.
struct HandleRecord {
  uint64_t magic = 0x48444e4c48444e4cULL;
  std::vector<std::pair<EFI_GUID, void *>> protocols;
};

struct OpenRecord {
  EFI_HANDLE handle;
  EFI_GUID guid;
  EFI_HANDLE agent;
  EFI_HANDLE controller;
};

struct FaultRule {
  unsigned at;  // the call number that fails; 0 with `every`
  bool every;
  EFI_STATUS status;
};

// The console's protocol comes first so `This` converts back.
struct ConsoleDevice {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL protocol;
  bool is_stderr;
};

// One entry of a folder's listing, as Read hands it out.
struct ListingEntry {
  std::u16string name;
  bool is_dir = false;
  uint64_t size = 0;
  size_t reported_size = 0;  // the size Read reports; 0 for the record's own
};

// One open file or directory. The protocol comes first: the shell's file
// handle and the EFI_FILE_PROTOCOL instance are the same address, as under
// the real shell. Records stay allocated after Close so that a late use is
// reported instead of reading freed memory.
struct SimFile {
  EFI_FILE_PROTOCOL protocol;
  bool open = true;
  bool is_dir = false;
  std::vector<std::string> path;  // components from the volume root
  std::string bytes;              // the file's content, read at open
  bool unreadable = false;        // its host file could not be read: reads fail
  uint64_t position = 0;          // a folder: the next listing entry
  bool writing = false;           // opened for writing (in-memory files only)
  bool listed = false;            // a folder: `listing` is filled
  bool endless = false;
  std::vector<ListingEntry> listing;
};

// Result of resolving a name against the file store.
struct FileLookup {
  bool found = false;
  bool is_dir = false;
  bool in_memory = false;  // an in-memory file or folder, which a writable volume changes
  std::vector<std::string> path;
  std::string bytes;
  bool unreadable = false;
};

struct LowMapping {
  void *base;
  size_t length;
};

struct Firmware::State {
  Options options;
  Firmware *owner = nullptr;
  Firmware *previous = nullptr;

  EFI_SYSTEM_TABLE system_table{};
  EFI_BOOT_SERVICES boot_services{};
  EFI_RUNTIME_SERVICES runtime_services{};
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL con_in{};
  ConsoleDevice con_out{};
  ConsoleDevice std_err{};
  std::array<uint8_t, 24> console_mode{};
  std::vector<EFI_CONFIGURATION_TABLE> config_entries;

  // Handle database, in creation order (the order LocateHandle reports).
  std::vector<std::unique_ptr<HandleRecord>> handles;
  std::vector<OpenRecord> opens;
  EFI_HANDLE image_handle = nullptr;
  EFI_HANDLE shell_handle = nullptr;
  EFI_HANDLE volume_handle = nullptr;

  // Pool.
  bool leftovers_allowed = false;
  std::map<void *, PoolBlock> blocks;
  std::set<void *> freed;  // released addresses not handed out again since
  size_t live_bytes = 0;
  size_t peak_bytes = 0;
  size_t total_allocations = 0;
  std::vector<std::string> errors;

  // Faults and counts.
  std::array<unsigned, static_cast<size_t>(Call::COUNT)> counts{};
  std::array<std::vector<FaultRule>, static_cast<size_t>(Call::COUNT)> faults;
  unsigned faults_injected = 0;

  std::vector<LowMapping> low_mappings;

  std::vector<Event> events;
  std::vector<std::u16string> stderr_lines;

  // Files.
  std::vector<std::pair<std::vector<std::string>, std::string>> memory_files;
  std::vector<std::unique_ptr<SimFile>> files;
  std::unordered_set<const void *> file_addresses;
  std::vector<std::pair<std::vector<std::string>, FolderDamage>> folder_damage;
  std::vector<std::string> current_directory;  // from the volume root
  std::u16string current_directory_text;       // as GetCurDir hands it out

  // Shell objects.
  std::vector<std::u16string> arg_storage;
  std::vector<CHAR16 *> argv;
  EFI_SHELL_PROTOCOL shell{};
  EFI_SHELL_PARAMETERS_PROTOCOL shell_parameters{};
  EFI_UNICODE_COLLATION_PROTOCOL collation{};
  LEGACY_SHELL_ENVIRONMENT legacy_environment{};
  LEGACY_SHELL_INTERFACE legacy_interface{};
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL file_system{};
  std::vector<uint8_t> volume_path;                      // device node + End
  std::vector<std::unique_ptr<uint8_t[]>> device_paths;  // handed out by NameToPath

  // Counts the call and tells whether a fault is due; the status to return
  // then lands in *status.
  bool Fault(Call call, EFI_STATUS *status);
  void Error(const std::string &text) { errors.push_back(text); }

  HandleRecord *FindHandle(EFI_HANDLE handle);
  void *FindInterface(EFI_HANDLE handle, const EFI_GUID &guid);

  // Pool blocks the firmware itself hands to the caller (file information):
  // accounted like the caller's own, but neither counted as a call nor
  // subject to faults.
  void *PoolAllocate(EFI_MEMORY_TYPE type, size_t size);

  // Files.
  FileLookup Lookup(const std::vector<std::string> &path) const;
  // The folder's entries: "." and ".." below the root, the in-memory
  // files' names, then the host folder's, and the damage given to it.
  void FillListing(SimFile *folder) const;
  // Changes the current directory to `name` (relative to it, or from the
  // root); EFI_NOT_FOUND, unchanged, when that is no folder.
  EFI_STATUS ChangeDirectory(const std::u16string &name);
  std::u16string CurrentDirectoryText() const;
  SimFile *NewFile(const FileLookup &found);
  // Stores a written file's content back into the in-memory files.
  void StoreFile(const SimFile &file);
  SimFile *CheckFile(const void *handle, const char *operation);
  void SyncConfigurationTable();
};

inline Firmware::State *CurrentState() { return Firmware::CurrentState(); }

// Names: UTF-16 to UTF-8, and a name split into path components relative
// to `base` ('\' or '/' separate, "." and ".." resolved, a leading
// separator starts from the root, a volume prefix "fs0:" is dropped).
std::string ToUtf8(const std::u16string &text);
std::u16string ToUtf16(const std::string &text);
std::vector<std::string> SplitPath(const std::string &name, const std::vector<std::string> &base);
bool NamesEqualIgnoringCase(const std::string &a, const std::string &b);

void ReleaseLowMapping(const LowMapping &mapping);

// Set-up done by each file for the tables it owns.
void SetUpBootServices(EFI_BOOT_SERVICES *services);
void SetUpConsoles(Firmware::State *state);
void SetUpFileProtocol(EFI_FILE_PROTOCOL *protocol);
void SetUpShell(Firmware::State *state);
void SetUpLegacyShell(Firmware::State *state);

// The file protocol's members, which the shell's file members share, and
// the open both use (writing only on a writable volume).
EFI_STATUS OpenPath(Firmware::State *state, const std::vector<std::string> &path, UINT64 mode,
                    SimFile **opened);
EFI_STATUS EFIAPI FileClose(EFI_FILE_PROTOCOL *self);
EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *self);
EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *self, UINTN *size, void *buffer);
EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *self, UINTN *size, void *buffer);
EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *self, UINT64 *position);
EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *self, UINT64 position);
EFI_STATUS EFIAPI FileFlush(EFI_FILE_PROTOCOL *self);

// Shared between the shell and the file protocol.
EFI_FILE_INFO *MakeFileInfo(Firmware::State *state, const SimFile &file);
size_t FileInfoSize(const SimFile &file);
// Writes the file's EFI_FILE_INFO record, name included, at Buffer (any
// alignment).
void FillFileInfo(const SimFile &file, void *buffer);
void FillFileInfo(const std::u16string &name, bool is_dir, uint64_t size, void *buffer);

}  // namespace sim
