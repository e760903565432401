// The EFI 1.x shell and the volume it reads from. The shell's environment
// (execute entry first, signature at byte 96, name-to-device-path entry at
// byte 304) sits on the shell's own handle; the per-image interface with
// the arguments sits on the image handle.
//
// The volume handle carries EFI_SIMPLE_FILE_SYSTEM_PROTOCOL and a device
// path of one vendor node. NameToPath answers with that device node, one
// file-path node holding the name, and the End node; the firmware keeps
// every path it hands out for its whole life, as the shell's own tables do.
#include <cstring>

#include "sim/internal.h"

namespace sim {
namespace {

// Identifies the simulated volume's device node.
constexpr EFI_GUID VOLUME_VENDOR_GUID = {
    0x5a1e0f17, 0x3c2b, 0x4d6e, {0x9a, 0x41, 0x0b, 0x5e, 0x1d, 0x7c, 0x42, 0x90}};
constexpr UINT8 HARDWARE_DEVICE_PATH = 0x01;
constexpr UINT8 VENDOR_SUB_TYPE = 0x04;

void AppendNode(std::vector<uint8_t> *path, UINT8 type, UINT8 subtype, const void *data,
                size_t size) {
  size_t length = 4 + size;
  path->push_back(type);
  path->push_back(subtype);
  path->push_back(static_cast<uint8_t>(length & 0xFF));
  path->push_back(static_cast<uint8_t>(length >> 8));
  const uint8_t *bytes = static_cast<const uint8_t *>(data);
  path->insert(path->end(), bytes, bytes + size);
}

EFI_STATUS EFIAPI LegacyExecute(EFI_HANDLE image, CHAR16 *command_line, BOOLEAN) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::LegacyExecute, &status)) return status;
  if (command_line == nullptr) return EFI_INVALID_PARAMETER;
  if (state->FindHandle(image) == nullptr) {
    state->Error("legacy execute: the image handle is not a handle");
    return EFI_INVALID_PARAMETER;
  }
  std::u16string line(command_line);
  if (state->options.on_execute) state->options.on_execute(*state->owner, line);
  state->events.push_back(Event{Event::Execute, line, state->owner->OpenFileHandles(),
                                 state->CurrentDirectoryText()});
  // The shell's own "cd" changes its current directory; a quoted name may
  // hold blanks.
  if (line.compare(0, 3, u"cd ") == 0) {
    std::u16string name = line.substr(3);
    if (name.size() >= 2 && name.front() == u'"' && name.back() == u'"') {
      name = name.substr(1, name.size() - 2);
    }
    return state->ChangeDirectory(name);
  }
  return state->options.command_status;
}

EFI_DEVICE_PATH_PROTOCOL *EFIAPI NameToPath(CHAR16 *name) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::NameToPath, &status) || name == nullptr) return nullptr;
  std::u16string text(name);
  // A volume prefix ("fs0:") names the one simulated volume.
  size_t colon = text.find(u':');
  if (colon != std::u16string::npos && colon < text.find_first_of(u"\\/")) {
    text = text.substr(colon + 1);
  }
  // A relative name is taken from the current directory.
  if (text.empty() || text[0] != u'\\') {
    std::u16string current = state->CurrentDirectoryText();
    text = u"\\" + current + (current.empty() ? u"" : u"\\") + text;
  }

  std::vector<uint8_t> path(state->volume_path.begin(), state->volume_path.end() - 4);
  AppendNode(&path, MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, text.c_str(),
             (text.size() + 1) * sizeof(CHAR16));
  AppendNode(&path, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, nullptr, 0);
  size_t shift = state->options.odd_device_paths ? 1 : 0;
  state->device_paths.push_back(std::make_unique<uint8_t[]>(path.size() + shift));
  uint8_t *placed = state->device_paths.back().get() + shift;
  std::memcpy(placed, path.data(), path.size());
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(placed);
}

EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *self, EFI_FILE_PROTOCOL **root) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::OpenVolume, &status)) return status;
  if (self != &state->file_system || root == nullptr) return EFI_INVALID_PARAMETER;
  *root = &state->NewFile(state->Lookup({}))->protocol;
  return EFI_SUCCESS;
}

}  // namespace

void SetUpLegacyShell(Firmware::State *state) {
  Firmware *firmware = state->owner;
  AppendNode(&state->volume_path, HARDWARE_DEVICE_PATH, VENDOR_SUB_TYPE, &VOLUME_VENDOR_GUID,
             sizeof(VOLUME_VENDOR_GUID));
  AppendNode(&state->volume_path, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, nullptr,
             0);
  state->file_system.Revision = 0x00010000;
  state->file_system.OpenVolume = OpenVolume;
  state->volume_handle = firmware->CreateHandle();
  firmware->InstallProtocol(state->volume_handle, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID,
                            &state->file_system);
  firmware->InstallProtocol(state->volume_handle, EFI_DEVICE_PATH_PROTOCOL_GUID,
                            state->volume_path.data());

  LEGACY_SHELL_ENVIRONMENT &environment = state->legacy_environment;
  environment.Execute = LegacyExecute;
  environment.Signature = LEGACY_SHELL_ENVIRONMENT_SIGNATURE_GUID;
  environment.NameToPath = NameToPath;
  state->legacy_interface.ImageHandle = state->image_handle;
  state->legacy_interface.Argv = state->argv.data();
  state->legacy_interface.Argc = state->arg_storage.size();

  if (state->options.shell == ShellKind::Legacy) {
    state->shell_handle = firmware->CreateHandle();
    firmware->InstallProtocol(state->shell_handle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL,
                              &environment);
    firmware->InstallProtocol(state->image_handle, LEGACY_SHELL_INTERFACE_PROTOCOL,
                              &state->legacy_interface);
  }
}

}  // namespace sim
