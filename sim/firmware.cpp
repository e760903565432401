// The simulated firmware's core: the system table, the pool with its
// accounting, fault injection and call counts, the configuration table, and
// the records a test reads afterwards.
//
// Pool blocks come from the host heap so that AddressSanitizer watches
// their bounds; the firmware keeps its own list of live blocks so that a
// leak, a double release or the release of a foreign pointer is reported
// by LeakReport instead of corrupting the heap.
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/globals.h"
#include "sim/internal.h"

namespace sim {
namespace {

Firmware *gCurrent = nullptr;
LeftoverHandler gLeftoverHandler = nullptr;

// Larger requests fail as firmware out of memory would, instead of asking
// the host for absurd amounts.
constexpr size_t POOL_LIMIT = 256u << 20;
constexpr uint8_t FRESH_POOL_BYTE = 0xAF;  // pool memory is not zeroed
constexpr uint8_t FREED_POOL_BYTE = 0xDF;

bool ValidPoolType(EFI_MEMORY_TYPE type) {
  UINT32 value = type;
  if (value >= 0x70000000u) return true;  // OEM and OS ranges
  return value < 15 && value != 7;        // EfiConventionalMemory is not a pool type
}

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::AllocatePool, &status)) return status;
  if (buffer == nullptr || !ValidPoolType(type)) return EFI_INVALID_PARAMETER;
  void *block = state->PoolAllocate(type, size);
  if (block == nullptr) return EFI_OUT_OF_RESOURCES;
  *buffer = block;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetTime(EFI_TIME *time, void *) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::GetTime, &status)) return status;
  if (time == nullptr) return EFI_INVALID_PARAMETER;
  *time = state->options.clock;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FreePool(void *buffer) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::FreePool, &status)) return status;
  auto it = state->blocks.find(buffer);
  if (it == state->blocks.end()) {
    std::ostringstream text;
    if (buffer == nullptr) {
      text << "FreePool(NULL)";
    } else if (state->freed.count(buffer) != 0) {
      text << "FreePool of " << buffer << ", already released";
    } else {
      text << "FreePool of " << buffer << ", which AllocatePool never handed out";
    }
    state->Error(text.str());
    return EFI_INVALID_PARAMETER;
  }
  state->live_bytes -= it->second.size;
  std::memset(buffer, FREED_POOL_BYTE, it->second.size);
  state->blocks.erase(it);
  state->freed.insert(buffer);
  std::free(buffer);
  return EFI_SUCCESS;
}

}  // namespace

void *Firmware::State::PoolAllocate(EFI_MEMORY_TYPE type, size_t size) {
  if (size > POOL_LIMIT) return nullptr;
  void *block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  std::memset(block, FRESH_POOL_BYTE, size);
  blocks[block] = PoolBlock{size, type};
  freed.erase(block);
  live_bytes += size;
  if (live_bytes > peak_bytes) peak_bytes = live_bytes;
  ++total_allocations;
  return block;
}

bool Firmware::State::Fault(Call call, EFI_STATUS *status) {
  size_t kind = static_cast<size_t>(call);
  unsigned number = ++counts[kind];
  for (const FaultRule &rule : faults[kind]) {
    if (rule.every || rule.at == number) {
      *status = rule.status;
      ++faults_injected;
      return true;
    }
  }
  return false;
}

void Firmware::State::SyncConfigurationTable() {
  // The table lies at the end of a guarded low block, so a reader that runs
  // past NumberOfTableEntries faults at once.
  size_t bytes = config_entries.size() * sizeof(EFI_CONFIGURATION_TABLE);
  EFI_CONFIGURATION_TABLE *table = nullptr;
  if (bytes != 0) {
    table = reinterpret_cast<EFI_CONFIGURATION_TABLE *>(owner->AllocateLow(bytes));
    std::memcpy(table, config_entries.data(), bytes);
  }
  system_table.NumberOfTableEntries = config_entries.size();
  system_table.ConfigurationTable = table;
}

const char *CallName(Call call) {
  static const char *const NAMES[] = {
      "AllocatePool",    "FreePool",        "OpenProtocol",  "CloseProtocol", "LocateProtocol",
      "LocateHandle",    "LocateDevicePath", "OutputString", "ShellExecute",  "LegacyExecute",
      "NameToPath",      "OpenVolume",      "FileOpen",      "FileRead",      "FileSetPosition",
      "FileGetPosition", "FileGetInfo",     "FileClose",     "StriColl",      "FileWrite",
      "FileFlush",       "GetTime",         "CurDir",
  };
  static_assert(sizeof(NAMES) / sizeof(NAMES[0]) == static_cast<size_t>(Call::COUNT),
                "one name per call kind");
  size_t index = static_cast<size_t>(call);
  return index < static_cast<size_t>(Call::COUNT) ? NAMES[index] : "?";
}

Firmware::Firmware(const Options &options) : state_(new State) {
  State &s = *state_;
  s.options = options;
  s.owner = this;
  s.previous = gCurrent;
  gCurrent = this;

  SetUpBootServices(&s.boot_services);
  s.boot_services.AllocatePool = AllocatePool;
  s.boot_services.FreePool = FreePool;
  s.boot_services.Hdr.Signature = 0x56524553544f4f42ULL;  // "BOOTSERV"
  s.boot_services.Hdr.Revision = (2u << 16) | 70;
  s.boot_services.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  s.runtime_services.Hdr.Signature = 0x56524553544e5552ULL;  // "RUNTSERV"
  s.runtime_services.Hdr.Revision = (2u << 16) | 70;
  s.runtime_services.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  s.runtime_services.GetTime = GetTime;

  EFI_SYSTEM_TABLE &st = s.system_table;
  st.Hdr.Signature = 0x5453595320494249ULL;  // "IBI SYST"
  st.Hdr.Revision = (2u << 16) | 70;
  st.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  static CHAR16 vendor[] = u"Simulated firmware";
  st.FirmwareVendor = vendor;
  st.FirmwareRevision = 0x10000;
  st.BootServices = &s.boot_services;
  st.RuntimeServices = &s.runtime_services;

  s.image_handle = CreateHandle();
  SetUpConsoles(&s);
  SetUpShell(&s);
  SetUpLegacyShell(&s);
}

void SetLeftoverHandler(LeftoverHandler handler) { gLeftoverHandler = handler; }

void Firmware::AllowLeftovers() { state_->leftovers_allowed = true; }

Firmware::~Firmware() {
  State &s = *state_;
  if (gLeftoverHandler != nullptr && !s.leftovers_allowed) {
    std::string report = LeakReport(*this);
    if (!report.empty()) gLeftoverHandler(report);
  }
  if (gST == &s.system_table) {
    gST = nullptr;
    gBS = nullptr;
    gRT = nullptr;
    gImageHandle = nullptr;
  }
  for (auto &block : s.blocks) std::free(block.first);
  for (const LowMapping &mapping : s.low_mappings) ReleaseLowMapping(mapping);
  if (gCurrent == this) gCurrent = s.previous;
}

Firmware *Firmware::Current() { return gCurrent; }
Firmware::State *Firmware::CurrentState() {
  return gCurrent == nullptr ? nullptr : gCurrent->state_.get();
}

EFI_SYSTEM_TABLE *Firmware::SystemTable() { return &state_->system_table; }
EFI_HANDLE Firmware::ImageHandle() { return state_->image_handle; }
EFI_HANDLE Firmware::ShellHandle() { return state_->shell_handle; }
EFI_HANDLE Firmware::VolumeHandle() { return state_->volume_handle; }
EFI_SHELL_PROTOCOL *Firmware::ShellProtocol() { return &state_->shell; }
LEGACY_SHELL_ENVIRONMENT *Firmware::LegacyEnvironment() { return &state_->legacy_environment; }

void Firmware::InstallGlobals() {
  gImageHandle = state_->image_handle;
  gST = &state_->system_table;
  gBS = &state_->boot_services;
  gRT = &state_->runtime_services;
}

size_t Firmware::LiveBlocks() const { return state_->blocks.size(); }
size_t Firmware::LiveBytes() const { return state_->live_bytes; }
size_t Firmware::PeakBytes() const { return state_->peak_bytes; }
size_t Firmware::TotalAllocations() const { return state_->total_allocations; }
const std::map<void *, PoolBlock> &Firmware::Blocks() const { return state_->blocks; }
const std::vector<std::string> &Firmware::Errors() const { return state_->errors; }

void Firmware::FailNth(Call call, unsigned nth, EFI_STATUS status) {
  size_t kind = static_cast<size_t>(call);
  state_->faults[kind].push_back(FaultRule{state_->counts[kind] + nth, false, status});
}

void Firmware::FailAll(Call call, EFI_STATUS status) {
  state_->faults[static_cast<size_t>(call)].push_back(FaultRule{0, true, status});
}

void Firmware::ClearFaults() {
  for (auto &rules : state_->faults) rules.clear();
}

unsigned Firmware::Count(Call call) const { return state_->counts[static_cast<size_t>(call)]; }
void Firmware::ResetCounts() { state_->counts.fill(0); }
unsigned Firmware::FaultsInjected() const { return state_->faults_injected; }

void Firmware::AddConfigurationTable(const EFI_GUID &guid, void *table) {
  state_->config_entries.push_back(EFI_CONFIGURATION_TABLE{guid, table});
  state_->SyncConfigurationTable();
}

const std::vector<Event> &Firmware::Events() const { return state_->events; }
const std::vector<std::u16string> &Firmware::StdErrLines() const { return state_->stderr_lines; }

std::vector<std::u16string> Firmware::ConsoleLines() const {
  std::vector<std::u16string> lines;
  for (const Event &event : state_->events) {
    if (event.kind == Event::Console) lines.push_back(event.text);
  }
  return lines;
}

std::vector<std::u16string> Firmware::Executed() const {
  std::vector<std::u16string> lines;
  for (const Event &event : state_->events) {
    if (event.kind == Event::Execute) lines.push_back(event.text);
  }
  return lines;
}

std::string LeakReport(const Firmware &firmware) {
  std::ostringstream report;
  const auto &blocks = firmware.Blocks();
  if (!blocks.empty()) {
    report << blocks.size() << " pool block(s) left, " << firmware.LiveBytes() << " bytes:";
    for (const auto &block : blocks) {
      report << " [" << block.first << " " << block.second.size << " bytes, type "
             << block.second.type << "]";
    }
    report << "\n";
  }
  if (firmware.OpenFileHandles() != 0) {
    report << firmware.OpenFileHandles() << " file handle(s) left open\n";
  }
  for (const std::string &error : firmware.Errors()) report << error << "\n";
  return report.str();
}

}  // namespace sim
