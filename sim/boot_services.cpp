// The handle database and the boot services that search it: OpenProtocol,
// CloseProtocol, LocateProtocol, LocateHandle and LocateDevicePath.
//
// Handles are kept in creation order, which is the order LocateHandle
// reports and LocateProtocol searches. Opens are recorded per (handle,
// protocol, agent, controller) as the firmware does; a GET_PROTOCOL open
// needs no close, so an unmatched open is only counted, never a leak.
#include <cstring>

#include "sim/internal.h"

namespace sim {
namespace {

EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE handle, const EFI_GUID *protocol, void **interface,
                               EFI_HANDLE agent, EFI_HANDLE controller, UINT32 attributes) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::OpenProtocol, &status)) {
    if (interface != nullptr) *interface = nullptr;
    return status;
  }
  constexpr UINT32 TEST_PROTOCOL = 0x04;
  if (protocol == nullptr || state->FindHandle(handle) == nullptr) return EFI_INVALID_PARAMETER;
  if (interface == nullptr && attributes != TEST_PROTOCOL) return EFI_INVALID_PARAMETER;
  void *found = state->FindInterface(handle, *protocol);
  if (found == nullptr) {
    if (interface != nullptr) *interface = nullptr;
    return EFI_UNSUPPORTED;
  }
  if (interface != nullptr) *interface = found;
  state->opens.push_back(OpenRecord{handle, *protocol, agent, controller});
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE handle, const EFI_GUID *protocol, EFI_HANDLE agent,
                                EFI_HANDLE controller) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::CloseProtocol, &status)) return status;
  if (protocol == nullptr || state->FindHandle(handle) == nullptr ||
      state->FindHandle(agent) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (controller != nullptr && state->FindHandle(controller) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (state->FindInterface(handle, *protocol) == nullptr) return EFI_NOT_FOUND;
  // Every open by this agent and controller ends with one close.
  size_t before = state->opens.size();
  auto &opens = state->opens;
  for (auto it = opens.begin(); it != opens.end();) {
    bool match = it->handle == handle && GuidEquals(&it->guid, protocol) && it->agent == agent &&
                 it->controller == controller;
    it = match ? opens.erase(it) : it + 1;
  }
  return opens.size() == before ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *protocol, void *, void **interface) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::LocateProtocol, &status)) {
    if (interface != nullptr) *interface = nullptr;
    return status;
  }
  if (protocol == nullptr || interface == nullptr) return EFI_INVALID_PARAMETER;
  for (const auto &record : state->handles) {
    void *found = state->FindInterface(record.get(), *protocol);
    if (found != nullptr) {
      *interface = found;
      return EFI_SUCCESS;
    }
  }
  *interface = nullptr;
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE search_type, const EFI_GUID *protocol,
                               void *, UINTN *buffer_size, EFI_HANDLE *buffer) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::LocateHandle, &status)) return status;
  if (buffer_size == nullptr) return EFI_INVALID_PARAMETER;
  if (search_type != AllHandles && search_type != ByProtocol) return EFI_INVALID_PARAMETER;
  if (search_type == ByProtocol && protocol == nullptr) return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> found;
  for (const auto &record : state->handles) {
    if (search_type == AllHandles || state->FindInterface(record.get(), *protocol) != nullptr) {
      found.push_back(record.get());
    }
  }
  if (found.empty()) return EFI_NOT_FOUND;
  UINTN needed = found.size() * sizeof(EFI_HANDLE);
  if (*buffer_size < needed) {
    *buffer_size = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  *buffer_size = needed;
  std::memcpy(buffer, found.data(), needed);
  return EFI_SUCCESS;
}

size_t NodeLength(const uint8_t *node) { return node[2] | (static_cast<size_t>(node[3]) << 8); }
bool IsEndNode(const uint8_t *node) {
  return node[0] == END_DEVICE_PATH_TYPE && node[1] == END_ENTIRE_DEVICE_PATH_SUBTYPE;
}

// Bytes of `path` matched by the device nodes of `device` (its End node
// excluded), or -1 when `device` is not a prefix of `path`. Stops at a node
// whose length cannot be right, so a damaged path is never overrun.
long MatchDevicePath(const uint8_t *device, const uint8_t *path) {
  size_t matched = 0;
  while (!IsEndNode(device)) {
    size_t length = NodeLength(device);
    if (length < 4 || NodeLength(path) != length || IsEndNode(path)) return -1;
    if (std::memcmp(device, path, length) != 0) return -1;
    device += length;
    path += length;
    matched += length;
  }
  return static_cast<long>(matched);
}

EFI_STATUS EFIAPI LocateDevicePath(const EFI_GUID *protocol, EFI_DEVICE_PATH_PROTOCOL **path,
                                   EFI_HANDLE *device) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::LocateDevicePath, &status)) return status;
  if (protocol == nullptr || path == nullptr || *path == nullptr || device == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const uint8_t *source = reinterpret_cast<const uint8_t *>(*path);
  long best = -1;
  EFI_HANDLE best_handle = nullptr;
  for (const auto &record : state->handles) {
    if (state->FindInterface(record.get(), *protocol) == nullptr) continue;
    void *own = state->FindInterface(record.get(), EFI_DEVICE_PATH_PROTOCOL_GUID);
    if (own == nullptr) continue;
    long matched = MatchDevicePath(static_cast<const uint8_t *>(own), source);
    if (matched > best) {
      best = matched;
      best_handle = record.get();
    }
  }
  if (best_handle == nullptr) return EFI_NOT_FOUND;
  *device = best_handle;
  *path = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(const_cast<uint8_t *>(source) + best);
  return EFI_SUCCESS;
}

}  // namespace

void SetUpBootServices(EFI_BOOT_SERVICES *services) {
  services->OpenProtocol = OpenProtocol;
  services->CloseProtocol = CloseProtocol;
  services->LocateProtocol = LocateProtocol;
  services->LocateHandle = LocateHandle;
  services->LocateDevicePath = LocateDevicePath;
}

HandleRecord *Firmware::State::FindHandle(EFI_HANDLE handle) {
  if (handle == nullptr) return nullptr;
  for (const auto &record : handles) {
    if (record.get() == handle) return record.get();
  }
  return nullptr;
}

void *Firmware::State::FindInterface(EFI_HANDLE handle, const EFI_GUID &guid) {
  HandleRecord *record = FindHandle(handle);
  if (record == nullptr) return nullptr;
  for (const auto &entry : record->protocols) {
    if (GuidEquals(&entry.first, &guid)) return entry.second;
  }
  return nullptr;
}

EFI_HANDLE Firmware::CreateHandle() {
  state_->handles.push_back(std::make_unique<HandleRecord>());
  return state_->handles.back().get();
}

void Firmware::InstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, void *interface) {
  HandleRecord *record = state_->FindHandle(handle);
  if (record == nullptr) return;
  for (auto &entry : record->protocols) {
    if (GuidEquals(&entry.first, &guid)) {
      entry.second = interface;
      return;
    }
  }
  record->protocols.emplace_back(guid, interface);
}

void Firmware::UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid) {
  HandleRecord *record = state_->FindHandle(handle);
  if (record == nullptr) return;
  auto &list = record->protocols;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (GuidEquals(&it->first, &guid)) {
      list.erase(it);
      break;
    }
  }
  auto &opens = state_->opens;
  for (auto it = opens.begin(); it != opens.end();) {
    bool match = it->handle == handle && GuidEquals(&it->guid, &guid);
    it = match ? opens.erase(it) : it + 1;
  }
}

size_t Firmware::OpenProtocolCount() const { return state_->opens.size(); }

}  // namespace sim
