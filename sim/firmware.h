// The simulated firmware: a host implementation of the UEFI services and
// shell protocols that the application calls, so that host tests and the
// preview tool run the very code that goes into the image.
//
// It keeps a real handle database, counts every pool block (live, peak,
// type), serves files from memory or a host folder, records console output
// and command lines in the order they happen, and can make any firmware
// call fail on its Nth use. One Firmware object is current at a time; the
// EFIAPI entry points find it through Firmware::Current().
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/efi_protocols.h"

namespace sim {

// Every firmware call a fault can be injected into. Counting is per kind.
enum class Call : unsigned {
  AllocatePool,
  FreePool,
  OpenProtocol,
  CloseProtocol,
  LocateProtocol,
  LocateHandle,
  LocateDevicePath,
  OutputString,     // ConOut and StdErr
  ShellExecute,     // EFI_SHELL_PROTOCOL.Execute
  LegacyExecute,    // the legacy environment's execute entry
  NameToPath,       // the legacy environment's name-to-device-path entry
  OpenVolume,       // EFI_SIMPLE_FILE_SYSTEM_PROTOCOL.OpenVolume
  FileOpen,         // OpenFileByName and EFI_FILE_PROTOCOL.Open
  FileRead,         // ReadFile and Read
  FileSetPosition,  // SetFilePosition and SetPosition
  FileGetPosition,  // GetFilePosition and GetPosition
  FileGetInfo,      // GetFileInfo, GetFileSize and GetInfo
  FileClose,        // CloseFile and Close
  StriColl,
  FileWrite,        // WriteFile and Write
  FileFlush,        // FlushFile and Flush
  GetTime,          // the runtime clock
  CurDir,           // EFI_SHELL_PROTOCOL.GetCurDir and SetCurDir
  COUNT
};
const char *CallName(Call call);

enum class ShellKind { Uefi2, Legacy, None };

class Firmware;

struct Options {
  ShellKind shell = ShellKind::Uefi2;
  bool with_stderr = true;         // system table StdErr present
  bool with_collation = true;      // EFI_UNICODE_COLLATION_PROTOCOL installed
  // Command-line arguments as the shell hands them over (argv[0] first).
  std::vector<std::u16string> args = {u"BiosUpdateSelect.efi"};
  // Host folder that relative names resolve against (read-only); empty
  // means the in-memory files only.
  std::string dir;
  // Host folder served as the folder "kits" of the volume's root, in front
  // of `dir` (read-only): a library of kits run as a medium would hold it.
  std::string kits_dir;
  // What the nested command reports through Execute's status reference
  // (UEFI Shell) or as the legacy execute entry's result.
  EFI_STATUS command_status = EFI_SUCCESS;
  // Hands out NameToPath's device paths at odd addresses, as a shell whose
  // nodes are byte-packed may.
  bool odd_device_paths = false;
  // The volume takes writes: in-memory files (and new ones in folders that
  // exist) open for writing, grow and flush; the host folder stays
  // read-only. Off, every open for writing is refused as on a CD-ROM.
  bool writable = false;
  // What GetTime reports: 2026-03-01 08:30:15, zone unspecified, unless set.
  EFI_TIME clock = {2026, 3, 1, 8, 30, 15, 0, 0, EFI_UNSPECIFIED_TIMEZONE, 0, 0};
  // Called as each command starts, under either shell, before it is
  // recorded: what the medium holds at that moment is what survives a
  // script that flashes and resets the machine.
  std::function<void(Firmware &firmware, const std::u16string &command)> on_execute;
};

struct Event {
  enum Kind { Console, Execute } kind;
  std::u16string text;
  // Execute: file handles open when the command started; a script that
  // flashes may reset the machine before any of them is closed.
  size_t open_files = 0;
  // Execute: the shell's current directory when the command ran, from the
  // volume root ("" for the root itself, else "kits\\A").
  std::u16string folder = u"";
};

// Damage a test can give a folder's listing, as a worn or badly written
// medium may have it.
enum class FolderDamage {
  EndlessListing,  // after its last entry the listing starts over, for ever
  NameNotUtf16,    // one more folder entry, its name an unpaired surrogate
  NameWithoutEnd,  // one more folder entry, whose reported size cuts its name
};

// One live pool block, as AllocatePool handed it out.
struct PoolBlock {
  size_t size;
  EFI_MEMORY_TYPE type;
};

class Firmware {
 public:
  explicit Firmware(const Options &options = Options());
  ~Firmware();
  Firmware(const Firmware &) = delete;
  Firmware &operator=(const Firmware &) = delete;

  // The firmware whose services are being called; null when none exists.
  static Firmware *Current();

  EFI_SYSTEM_TABLE *SystemTable();
  EFI_HANDLE ImageHandle();
  // This firmware's leftovers are the point of the test: they are not
  // reported when it goes away.
  void AllowLeftovers();
  // Records the platform references (gImageHandle, gST, gBS, gRT) as the
  // image entry would, for tests that call product code directly.
  void InstallGlobals();

  // ---- Pool accounting ----
  size_t LiveBlocks() const;
  size_t LiveBytes() const;
  size_t PeakBytes() const;
  size_t TotalAllocations() const;
  const std::map<void *, PoolBlock> &Blocks() const;

  // ---- Fault injection and call counts ----
  // Makes the Nth call (1-based, counted from now on per kind) of `call`
  // fail with `status` instead of doing its work. Calls that return no
  // status fail their own way: GetFileInfo returns null, NameToPath no
  // path, StriColl "different". A close cannot fail on the platform, so a
  // faulted FileClose reports the status but closes the handle all the
  // same. A faulted FileWrite writes the first half of its bytes before it
  // reports the status, as a medium that fills up part-way does. Pool blocks the firmware hands out itself (GetFileInfo's record)
  // are accounted but are not AllocatePool calls.
  void FailNth(Call call, unsigned nth, EFI_STATUS status = EFI_DEVICE_ERROR);
  // Makes every call of `call` fail from now on.
  void FailAll(Call call, EFI_STATUS status = EFI_DEVICE_ERROR);
  void ClearFaults();
  unsigned Count(Call call) const;
  void ResetCounts();
  // Number of faults that actually fired.
  unsigned FaultsInjected() const;

  // ---- Configuration table and SMBIOS ----
  void AddConfigurationTable(const EFI_GUID &guid, void *table);
  // Memory below 4 GiB, as SMBIOS tables must lie (the 32-bit Structure
  // Table Address is used as a pointer). The block ends right before an
  // inaccessible page, so a read one byte past it faults. Owned by the
  // firmware; zero-filled.
  uint8_t *AllocateLow(size_t size);
  // Publishes a `dmidecode --dump-bin` image: a 2.x ("_SM_") or 3.x
  // ("_SM3_") entry point at offset 0 and the structure table at the offset
  // its address field names. Returns false with a reason for a file that is
  // not such an image.
  bool PublishSmbiosDump(const std::vector<uint8_t> &dump, std::string *error);
  // Builds a 2.x entry point for `table` (placed low) with the given count
  // and publishes it under the SMBIOS GUID. Returns the entry point.
  uint8_t *PublishSmbios2(const std::vector<uint8_t> &table, uint16_t structure_count);
  // Builds a 3.x entry point for `table` (placed low; TableMaximumSize is
  // the table's size) and publishes it under the SMBIOS 3.x GUID. Returns
  // the entry point.
  uint8_t *PublishSmbios3(const std::vector<uint8_t> &table);

  // ---- Files ----
  void AddFile(const std::string &name, const std::string &bytes);
  // The content of an in-memory file as writes left it; false when there
  // is no such file.
  bool ReadFile(const std::string &name, std::string *bytes) const;
  size_t OpenFileHandles() const;
  // Gives the listing of `folder` (a path from the volume root) the damage.
  void DamageFolder(const std::string &folder, FolderDamage damage);
  // The shell's current directory from the volume root ("" for the root).
  // Set by the UEFI Shell's SetCurDir and the EFI 1.x shell's "cd".
  std::u16string CurrentDirectory() const;

  // ---- Records ----
  const std::vector<Event> &Events() const;
  std::vector<std::u16string> ConsoleLines() const;  // OutputString texts
  std::vector<std::u16string> Executed() const;       // command lines run
  // Every OutputString made on StdErr (which the application never uses).
  const std::vector<std::u16string> &StdErrLines() const;
  // Misuse the firmware noticed and survived: FreePool of an unknown or
  // already released block, a file handle used after its close, and the like.
  const std::vector<std::string> &Errors() const;

  // ---- Handle database ----
  EFI_HANDLE CreateHandle();
  void InstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, void *interface);
  void UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid);
  // Opens made through OpenProtocol that no CloseProtocol has matched.
  size_t OpenProtocolCount() const;
  // Where the shells' shell-wide protocols live (not the image handle), and
  // the volume handle carrying the simple file system and its device path.
  EFI_HANDLE ShellHandle();
  EFI_HANDLE VolumeHandle();
  // The shells' interfaces, whether or not Options installed them, so a
  // test can install copies elsewhere (say, a legacy environment on the
  // image handle, with or without its signature).
  EFI_SHELL_PROTOCOL *ShellProtocol();
  LEGACY_SHELL_ENVIRONMENT *LegacyEnvironment();

  struct State;  // implementation details, visible to the sim's own files
  // The current firmware's state, for the EFIAPI entry points; null when
  // no firmware exists.
  static State *CurrentState();

 private:
  std::unique_ptr<State> state_;
};

// Leak checks for the end of a test: no pool block, no file handle left.
std::string LeakReport(const Firmware &firmware);

// Called when a Firmware goes away with a non-empty LeakReport, unless the
// test said it expects leftovers (AllowLeftovers). The test runner installs
// one that fails the running test, so no test can leave a block or an open
// file behind unnoticed.
typedef void (*LeftoverHandler)(const std::string &report);
void SetLeftoverHandler(LeftoverHandler handler);

}  // namespace sim
