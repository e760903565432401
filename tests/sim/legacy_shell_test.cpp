// The simulated EFI 1.x shell: its environment and interface, and the path
// from a file name to its bytes (name to device path, device path to the
// volume handle, volume to root directory, directory to file).
#include <gtest/gtest.h>

#include <cstring>

#include "sim/firmware.h"

namespace {

constexpr EFI_STATUS WRITE_PROTECTED = EFI_ERROR_BIT | 8;
constexpr EFI_GUID DEVICE_PATH_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

size_t NodeLength(const uint8_t *node) { return node[2] | (node[3] << 8); }

sim::Options Legacy() {
  sim::Options options;
  options.shell = sim::ShellKind::Legacy;
  options.args = {u"BiosUpdateSelect.efi", u"one"};
  return options;
}

// Opens `name` the way an EFI 1.x application does; returns the file or null.
EFI_FILE_PROTOCOL *OpenThroughDevicePath(sim::Firmware &fw, LEGACY_SHELL_ENVIRONMENT *environment,
                                         const char16_t *name) {
  EFI_BOOT_SERVICES *bs = fw.SystemTable()->BootServices;
  std::u16string copy(name);
  EFI_DEVICE_PATH_PROTOCOL *path = environment->NameToPath(&copy[0]);
  if (path == nullptr) return nullptr;
  EFI_HANDLE device = nullptr;
  if (bs->LocateDevicePath(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &path, &device) != EFI_SUCCESS) {
    return nullptr;
  }
  void *found = nullptr;
  EFI_HANDLE image = fw.ImageHandle();
  EXPECT_EQ(bs->OpenProtocol(device, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &found, image,
                             nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  auto *volume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(found);
  EFI_FILE_PROTOCOL *root = nullptr;
  EXPECT_EQ(volume->OpenVolume(volume, &root), EFI_SUCCESS);
  // What remains is one file-path node, then the End node.
  const uint8_t *node = reinterpret_cast<const uint8_t *>(path);
  EXPECT_EQ(node[0], MEDIA_DEVICE_PATH);
  EXPECT_EQ(node[1], MEDIA_FILEPATH_DP);
  std::u16string file_name((NodeLength(node) - 4) / 2, u'\0');
  std::memcpy(&file_name[0], node + 4, NodeLength(node) - 4);
  const uint8_t *end = node + NodeLength(node);
  EXPECT_EQ(end[0], END_DEVICE_PATH_TYPE);
  EXPECT_EQ(end[1], END_ENTIRE_DEVICE_PATH_SUBTYPE);
  EFI_FILE_PROTOCOL *file = nullptr;
  EFI_STATUS status = root->Open(root, &file, file_name.c_str(), EFI_FILE_MODE_READ, 0);
  EXPECT_EQ(root->Close(root), EFI_SUCCESS);
  return status == EFI_SUCCESS ? file : nullptr;
}

TEST(SimLegacyShell, EnvironmentOnShellHandleInterfaceOnImage) {
  sim::Firmware fw(Legacy());
  EFI_BOOT_SERVICES *bs = fw.SystemTable()->BootServices;
  EFI_HANDLE image = fw.ImageHandle();
  void *found = nullptr;
  EXPECT_EQ(bs->LocateProtocol(&EFI_SHELL_PROTOCOL_GUID, nullptr, &found), EFI_NOT_FOUND);
  EXPECT_EQ(bs->OpenProtocol(image, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_UNSUPPORTED);
  UINTN size = sizeof(EFI_HANDLE);
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(bs->LocateHandle(ByProtocol, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL, nullptr, &size,
                             &handle),
            EFI_SUCCESS);
  EXPECT_EQ(handle, fw.ShellHandle());
  ASSERT_EQ(bs->OpenProtocol(handle, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  const uint8_t *raw = static_cast<const uint8_t *>(found);
  EXPECT_EQ(std::memcmp(raw + 96, &LEGACY_SHELL_ENVIRONMENT_SIGNATURE_GUID, 16), 0);

  ASSERT_EQ(bs->OpenProtocol(image, &LEGACY_SHELL_INTERFACE_PROTOCOL, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  UINT64 fields[4];
  std::memcpy(fields, found, sizeof(fields));
  auto argv = reinterpret_cast<CHAR16 **>(fields[2]);
  EXPECT_EQ(fields[3], 2u);
  EXPECT_EQ(std::u16string(argv[1]), u"one");
}

TEST(SimLegacyShell, ExecuteRecordsAndReturnsTheCommandStatus) {
  sim::Options options = Legacy();
  options.command_status = EFI_ABORTED;
  sim::Firmware fw(options);
  LEGACY_SHELL_ENVIRONMENT *environment = fw.LegacyEnvironment();
  CHAR16 command[] = u"UpdateHWOld.nsh";
  EXPECT_EQ(environment->Execute(fw.ImageHandle(), command, 0), EFI_ABORTED);
  EXPECT_EQ(fw.Executed(), std::vector<std::u16string>{u"UpdateHWOld.nsh"});
  fw.FailNth(sim::Call::LegacyExecute, 1, EFI_NOT_FOUND);
  EXPECT_EQ(environment->Execute(fw.ImageHandle(), command, 0), EFI_NOT_FOUND);
  EXPECT_EQ(fw.Executed().size(), 1u);
}

TEST(SimLegacyShell, NameToPathLeadsToTheFile) {
  for (bool odd : {false, true}) {
    SCOPED_TRACE(odd);
    sim::Options options = Legacy();
    options.odd_device_paths = odd;
    sim::Firmware fw(options);
    fw.AddFile("UpdateConfig.ini", "Version=3\r\n");
    EFI_DEVICE_PATH_PROTOCOL *path = fw.LegacyEnvironment()->NameToPath(const_cast<CHAR16 *>(u"x"));
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(path) & 1, odd ? 1u : 0u);

    EFI_FILE_PROTOCOL *file =
        OpenThroughDevicePath(fw, fw.LegacyEnvironment(), u"updateconfig.ini");
    ASSERT_NE(file, nullptr);
    char buffer[32];
    UINTN size = sizeof(buffer);
    EXPECT_EQ(file->Read(file, &size, buffer), EFI_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), "Version=3\r\n");
    UINT64 position = 0;
    EXPECT_EQ(file->GetPosition(file, &position), EFI_SUCCESS);
    EXPECT_EQ(position, 11u);
    EXPECT_EQ(file->SetPosition(file, 8), EFI_SUCCESS);
    size = sizeof(buffer);
    EXPECT_EQ(file->Read(file, &size, buffer), EFI_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), "3\r\n");
    EXPECT_EQ(file->Close(file), EFI_SUCCESS);
    EXPECT_EQ(sim::LeakReport(fw), "");
    file = OpenThroughDevicePath(fw, fw.LegacyEnvironment(), u"fs0:\\UPDATECONFIG.ini");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Close(file), EFI_SUCCESS);
    EXPECT_EQ(OpenThroughDevicePath(fw, fw.LegacyEnvironment(), u"missing.ini"), nullptr);
    EXPECT_EQ(sim::LeakReport(fw), "");
  }
}

TEST(SimLegacyShell, GetInfoReportsTheSizeItNeedsFirst) {
  sim::Firmware fw(Legacy());
  fw.AddFile("dir/a.ini", "abcd");
  EFI_FILE_PROTOCOL *file = OpenThroughDevicePath(fw, fw.LegacyEnvironment(), u"\\DIR\\A.INI");
  ASSERT_NE(file, nullptr);
  UINTN size = 0;
  EXPECT_EQ(file->GetInfo(file, &EFI_FILE_INFO_ID, &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 80u + sizeof(u"a.ini"));
  std::vector<uint64_t> storage((size + 7) / 8);
  EXPECT_EQ(file->GetInfo(file, &EFI_FILE_INFO_ID, &size, storage.data()), EFI_SUCCESS);
  auto *info = reinterpret_cast<EFI_FILE_INFO *>(storage.data());
  EXPECT_EQ(info->FileSize, 4u);
  EXPECT_EQ(std::u16string(info->FileName), u"a.ini");
  EXPECT_EQ(file->GetInfo(file, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &size, storage.data()),
            EFI_UNSUPPORTED);
  EXPECT_EQ(file->SetInfo(file, &EFI_FILE_INFO_ID, size, storage.data()), WRITE_PROTECTED);
  UINTN one = 1;
  EXPECT_EQ(file->Write(file, &one, storage.data()), EFI_ACCESS_DENIED);

  // A name opened from a file handle is relative to the file's directory.
  EFI_FILE_PROTOCOL *sibling = nullptr;
  fw.AddFile("dir/b.ini", "b");
  EXPECT_EQ(file->Open(file, &sibling, u"B.ini", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  EXPECT_EQ(file->Open(file, &sibling, u"c.ini",
                       EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0),
            WRITE_PROTECTED);
  EXPECT_EQ(fw.OpenFileHandles(), 2u);
  EXPECT_EQ(sibling->Delete(sibling), 2u);  // not deleted, but closed
  EXPECT_EQ(file->Close(file), EFI_SUCCESS);
  EXPECT_EQ(sim::LeakReport(fw), "");
}

TEST(SimLegacyShell, LocateDevicePathMatchesOnlyTheVolume) {
  sim::Firmware fw(Legacy());
  EFI_BOOT_SERVICES *bs = fw.SystemTable()->BootServices;
  // A path on some other device: a PCI node, then a file.
  uint8_t other[] = {1, 1, 6, 0, 0, 0, 4, 4, 8, 0, 'a', 0, 0, 0, 0x7F, 0xFF, 4, 0};
  EFI_DEVICE_PATH_PROTOCOL *path = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(other);
  EFI_HANDLE device = nullptr;
  EXPECT_EQ(bs->LocateDevicePath(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &path, &device),
            EFI_NOT_FOUND);
  EXPECT_EQ(path, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(other));

  EFI_DEVICE_PATH_PROTOCOL *mine = fw.LegacyEnvironment()->NameToPath(const_cast<CHAR16 *>(u"a"));
  void *own = nullptr;
  ASSERT_EQ(bs->OpenProtocol(fw.VolumeHandle(), &DEVICE_PATH_GUID, &own, fw.ImageHandle(), nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  size_t device_length = NodeLength(static_cast<const uint8_t *>(own));
  EFI_DEVICE_PATH_PROTOCOL *cursor = mine;
  ASSERT_EQ(bs->LocateDevicePath(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &cursor, &device),
            EFI_SUCCESS);
  EXPECT_EQ(device, fw.VolumeHandle());
  EXPECT_EQ(reinterpret_cast<uint8_t *>(cursor) - reinterpret_cast<uint8_t *>(mine),
            static_cast<long>(device_length));
  cursor = mine;
  EXPECT_EQ(bs->LocateDevicePath(&EFI_SHELL_PROTOCOL_GUID, &cursor, &device), EFI_NOT_FOUND);
  fw.FailNth(sim::Call::NameToPath, 1);
  EXPECT_EQ(fw.LegacyEnvironment()->NameToPath(const_cast<CHAR16 *>(u"a")), nullptr);
}

}  // namespace
