// The simulated UEFI Shell: where its protocols live, what Execute records,
// and files served from memory and from a host folder through the shell's
// file members, read-only, names without regard to case.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/firmware.h"

namespace {

namespace fs = std::filesystem;

constexpr EFI_STATUS WRITE_PROTECTED = EFI_ERROR_BIT | 8;
constexpr EFI_STATUS WARN_DELETE_FAILURE = 2;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/sim-shell-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  void Write(const std::string &name, const std::string &bytes) {
    fs::create_directories((fs::path(path_) / name).parent_path());
    std::ofstream(fs::path(path_) / name, std::ios::binary) << bytes;
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadAll(EFI_SHELL_PROTOCOL *shell, SHELL_FILE_HANDLE file, UINTN chunk) {
  std::string bytes;
  for (;;) {
    std::string buffer(chunk, '\0');
    UINTN size = chunk;
    EXPECT_EQ(shell->ReadFile(file, &size, &buffer[0]), EFI_SUCCESS);
    if (size == 0) return bytes;
    bytes.append(buffer, 0, size);
  }
}

TEST(SimShell, ProtocolsLiveWhereTheRealShellPutsThem) {
  sim::Options options;
  options.args = {u"BiosUpdateSelect.efi", u"-x", u"\u00e9"};
  sim::Firmware fw(options);
  EFI_BOOT_SERVICES *bs = fw.SystemTable()->BootServices;
  EFI_HANDLE image = fw.ImageHandle();
  void *found = nullptr;
  EXPECT_EQ(bs->OpenProtocol(image, &EFI_SHELL_PROTOCOL_GUID, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_UNSUPPORTED);
  EXPECT_EQ(bs->LocateProtocol(&EFI_SHELL_PROTOCOL_GUID, nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(found, fw.ShellProtocol());
  EXPECT_EQ(bs->OpenProtocol(fw.ShellHandle(), &EFI_SHELL_PROTOCOL_GUID, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);

  ASSERT_EQ(bs->OpenProtocol(image, &EFI_SHELL_PARAMETERS_PROTOCOL_GUID, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  auto *parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(found);
  ASSERT_EQ(parameters->Argc, 3u);
  EXPECT_EQ(std::u16string(parameters->Argv[0]), u"BiosUpdateSelect.efi");
  EXPECT_EQ(std::u16string(parameters->Argv[2]), u"\u00e9");
  EXPECT_EQ(parameters->Argv[3], nullptr);
  EXPECT_EQ(bs->OpenProtocol(image, &LEGACY_SHELL_INTERFACE_PROTOCOL, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_UNSUPPORTED);
  EXPECT_EQ(bs->LocateProtocol(&EFI_UNICODE_COLLATION_PROTOCOL_GUID, nullptr, &found),
            EFI_SUCCESS);
}

TEST(SimShell, NoShellAndNoCollationWhenLeftOut) {
  sim::Options options;
  options.shell = sim::ShellKind::None;
  options.with_collation = false;
  sim::Firmware fw(options);
  EFI_BOOT_SERVICES *bs = fw.SystemTable()->BootServices;
  void *found = nullptr;
  for (const EFI_GUID *guid : {&EFI_SHELL_PROTOCOL_GUID, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL,
                               &EFI_UNICODE_COLLATION_PROTOCOL_GUID}) {
    EXPECT_EQ(bs->LocateProtocol(guid, nullptr, &found), EFI_NOT_FOUND);
  }
  EFI_HANDLE image = fw.ImageHandle();
  for (const EFI_GUID *guid : {&EFI_SHELL_PARAMETERS_PROTOCOL_GUID, &LEGACY_SHELL_INTERFACE_PROTOCOL}) {
    EXPECT_EQ(bs->OpenProtocol(image, guid, &found, image, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
              EFI_UNSUPPORTED);
  }
}

TEST(SimShell, ExecuteRecordsAndReportsTheCommandStatus) {
  sim::Options options;
  options.command_status = EFI_NOT_FOUND;
  sim::Firmware fw(options);
  fw.AllowLeftovers();  // the misuse below is the point
  EFI_SHELL_PROTOCOL *shell = fw.ShellProtocol();
  EFI_HANDLE image = fw.ImageHandle();
  CHAR16 command[] = u"UpdateHWNew.nsh";
  EFI_STATUS command_status = EFI_SUCCESS;
  EXPECT_EQ(shell->Execute(&image, command, nullptr, &command_status), EFI_SUCCESS);
  EXPECT_EQ(command_status, EFI_NOT_FOUND);
  EXPECT_EQ(fw.Executed(), std::vector<std::u16string>{u"UpdateHWNew.nsh"});

  // The handle value where a reference to it belongs is refused, not run.
  EXPECT_EQ(shell->Execute(static_cast<EFI_HANDLE *>(image), command, nullptr, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.Errors().size(), 1u);
  fw.FailNth(sim::Call::ShellExecute, 1, EFI_ABORTED);
  EXPECT_EQ(shell->Execute(&image, command, nullptr, nullptr), EFI_ABORTED);
  EXPECT_EQ(fw.Executed().size(), 1u);
  EXPECT_EQ(fw.Count(sim::Call::ShellExecute), 3u);
}

TEST(SimShellFiles, ReadsInMemoryFileIgnoringCase) {
  sim::Firmware fw;
  fw.AddFile("UpdateConfig.ini", "ProductName=X\r\nVersion=12\r\n");
  EFI_SHELL_PROTOCOL *shell = fw.ShellProtocol();
  SHELL_FILE_HANDLE file = nullptr;
  ASSERT_EQ(shell->OpenFileByName(u"updateconfig.INI", &file, EFI_FILE_MODE_READ), EFI_SUCCESS);
  EXPECT_EQ(fw.OpenFileHandles(), 1u);
  EXPECT_EQ(ReadAll(shell, file, 5), "ProductName=X\r\nVersion=12\r\n");

  UINT64 position = 0;
  EXPECT_EQ(shell->GetFilePosition(file, &position), EFI_SUCCESS);
  EXPECT_EQ(position, 27u);
  EXPECT_EQ(shell->SetFilePosition(file, 15), EFI_SUCCESS);
  EXPECT_EQ(ReadAll(shell, file, 64), "Version=12\r\n");
  UINT64 size = 0;
  EXPECT_EQ(shell->GetFileSize(file, &size), EFI_SUCCESS);
  EXPECT_EQ(size, 27u);

  EFI_FILE_INFO *info = shell->GetFileInfo(file);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(fw.LiveBlocks(), 1u);  // the caller's to release
  EXPECT_EQ(info->FileSize, 27u);
  EXPECT_EQ(std::u16string(info->FileName), u"UpdateConfig.ini");
  EXPECT_EQ(info->Size, 80u + sizeof(u"UpdateConfig.ini"));
  EXPECT_EQ(info->Attribute & 0x10, 0u);
  fw.SystemTable()->BootServices->FreePool(info);

  // Past the end the next read fails, as on the platform; the end itself
  // reads nothing.
  EXPECT_EQ(shell->SetFilePosition(file, 100), EFI_SUCCESS);
  UINTN count = 4;
  char buffer[4];
  EXPECT_EQ(shell->ReadFile(file, &count, buffer), EFI_DEVICE_ERROR);
  EXPECT_EQ(shell->SetFilePosition(file, ~UINT64{0}), EFI_SUCCESS);
  EXPECT_EQ(shell->ReadFile(file, &count, buffer), EFI_SUCCESS);
  EXPECT_EQ(count, 0u);

  EXPECT_EQ(shell->CloseFile(file), EFI_SUCCESS);
  EXPECT_EQ(sim::LeakReport(fw), "");
}

TEST(SimShellFiles, AListingGoesIntoABufferAtAnyAddress) {
  // A folder read through a byte stream (a folder where a file was meant)
  // gets its records at whatever address the stream's buffer has.
  sim::Firmware fw;
  fw.AddFile("kits/a/UpdateConfig.ini/notes.txt", "x");
  EFI_SHELL_PROTOCOL *shell = fw.ShellProtocol();
  SHELL_FILE_HANDLE folder = nullptr;
  ASSERT_EQ(shell->OpenFileByName(u"kits\\a\\UpdateConfig.ini", &folder, EFI_FILE_MODE_READ),
            EFI_SUCCESS);
  alignas(8) uint8_t buffer[1 + 200];
  for (const char16_t *name : {u".", u"..", u"notes.txt"}) {
    SCOPED_TRACE(std::u16string(name).size());
    UINTN size = sizeof(buffer) - 1;
    ASSERT_EQ(shell->ReadFile(folder, &size, buffer + 1), EFI_SUCCESS);
    EFI_FILE_INFO info;
    std::memcpy(&info, buffer + 1, offsetof(EFI_FILE_INFO, FileName));
    EXPECT_EQ(size, offsetof(EFI_FILE_INFO, FileName) + (std::u16string(name).size() + 1) * 2);
    EXPECT_EQ(info.Size, size);
    std::u16string got(std::u16string(name).size(), u'?');
    std::memcpy(&got[0], buffer + 1 + offsetof(EFI_FILE_INFO, FileName), got.size() * 2);
    EXPECT_EQ(got, name);
  }
  EXPECT_EQ(shell->CloseFile(folder), EFI_SUCCESS);
}

TEST(SimShellFiles, ServesTheHostFolderReadOnly) {
  TempDir dir;
  dir.Write("Sub/Conf.ini", "abc");
  dir.Write("UpdateConfig.ini", "host");
  sim::Options options;
  options.dir = dir.path();
  sim::Firmware fw(options);
  fw.AddFile("updateconfig.ini", "memory");  // in-memory files come first
  EFI_SHELL_PROTOCOL *shell = fw.ShellProtocol();
  const struct {
    const char16_t *name;
    EFI_STATUS status;
    const char *content;
  } cases[] = {
      {u"sub\\conf.ini", EFI_SUCCESS, "abc"},
      {u"SUB/CONF.INI", EFI_SUCCESS, "abc"},
      {u"\\sub\\.\\x\\..\\Conf.ini", EFI_SUCCESS, "abc"},
      {u"fs0:\\Sub\\Conf.ini", EFI_SUCCESS, "abc"},
      {u"UpdateConfig.ini", EFI_SUCCESS, "memory"},
      {u"sub\\missing.ini", EFI_NOT_FOUND, nullptr},
      {u"Conf.ini", EFI_NOT_FOUND, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    SHELL_FILE_HANDLE file = reinterpret_cast<SHELL_FILE_HANDLE>(1);
    ASSERT_EQ(shell->OpenFileByName(c.name, &file, EFI_FILE_MODE_READ), c.status);
    if (c.content == nullptr) {
      EXPECT_EQ(file, nullptr);
      continue;
    }
    EXPECT_EQ(ReadAll(shell, file, 2), c.content);
    EXPECT_EQ(shell->CloseFile(file), EFI_SUCCESS);
  }
  SHELL_FILE_HANDLE file = nullptr;
  EXPECT_EQ(shell->OpenFileByName(u"sub\\conf.ini", &file, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE),
            WRITE_PROTECTED);
  EXPECT_EQ(shell->OpenFileByName(u"new.ini", &file,
                                  EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE),
            WRITE_PROTECTED);
  EXPECT_EQ(shell->OpenFileByName(u"sub\\conf.ini", &file, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(sim::LeakReport(fw), "");
}

TEST(SimShellFiles, RefusesChangesAndReportsLateUse) {
  sim::Firmware fw;
  fw.AllowLeftovers();  // the late uses below are the point
  fw.AddFile("a.txt", "12345");
  EFI_SHELL_PROTOCOL *shell = fw.ShellProtocol();
  SHELL_FILE_HANDLE file = nullptr;
  ASSERT_EQ(shell->OpenFileByName(u"a.txt", &file, EFI_FILE_MODE_READ), EFI_SUCCESS);
  UINTN size = 1;
  char byte = 'x';
  EXPECT_EQ(shell->WriteFile(file, &size, &byte), EFI_ACCESS_DENIED);
  EXPECT_EQ(shell->FlushFile(file), EFI_ACCESS_DENIED);
  EXPECT_EQ(shell->SetFileInfo(file, nullptr), WRITE_PROTECTED);
  EXPECT_EQ(fw.OpenFileHandles(), 1u);
  EXPECT_NE(sim::LeakReport(fw), "");
  // A failed delete still closes the handle.
  EXPECT_EQ(shell->DeleteFile(file), WARN_DELETE_FAILURE);
  EXPECT_EQ(fw.OpenFileHandles(), 0u);
  EXPECT_TRUE(fw.Errors().empty());
  EXPECT_EQ(shell->ReadFile(file, &size, &byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(shell->CloseFile(file), EFI_INVALID_PARAMETER);
  EXPECT_EQ(shell->GetFileInfo(file), nullptr);
  int stranger = 0;
  EXPECT_EQ(shell->CloseFile(&stranger), EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.Errors().size(), 4u);
}

TEST(SimShellFiles, FaultsHitTheNamedCall) {
  sim::Firmware fw;
  fw.AddFile("a.txt", "12345");
  EFI_SHELL_PROTOCOL *shell = fw.ShellProtocol();
  SHELL_FILE_HANDLE file = nullptr;
  fw.FailNth(sim::Call::FileOpen, 1, EFI_NOT_FOUND);
  EXPECT_EQ(shell->OpenFileByName(u"a.txt", &file, EFI_FILE_MODE_READ), EFI_NOT_FOUND);
  ASSERT_EQ(shell->OpenFileByName(u"a.txt", &file, EFI_FILE_MODE_READ), EFI_SUCCESS);
  fw.FailNth(sim::Call::FileRead, 2);
  fw.FailNth(sim::Call::FileGetInfo, 1);
  fw.FailNth(sim::Call::FileClose, 1);
  char buffer[2];
  UINTN size = 2;
  EXPECT_EQ(shell->ReadFile(file, &size, buffer), EFI_SUCCESS);
  EXPECT_EQ(shell->ReadFile(file, &size, buffer), EFI_DEVICE_ERROR);
  EXPECT_EQ(shell->GetFileInfo(file), nullptr);
  // A close reports the fault yet closes, as Close cannot fail on the platform.
  EXPECT_EQ(shell->CloseFile(file), EFI_DEVICE_ERROR);
  EXPECT_EQ(sim::LeakReport(fw), "");
  EXPECT_EQ(fw.FaultsInjected(), 4u);
}

TEST(SimCollation, ComparesWithoutRegardToCase) {
  sim::Firmware fw;
  void *found = nullptr;
  ASSERT_EQ(fw.SystemTable()->BootServices->LocateProtocol(&EFI_UNICODE_COLLATION_PROTOCOL_GUID,
                                                            nullptr, &found),
            EFI_SUCCESS);
  auto *collation = static_cast<EFI_UNICODE_COLLATION_PROTOCOL *>(found);
  EXPECT_EQ(collation->StriColl(collation, u"UpdateConfig.ini", u"UPDATECONFIG.INI"), 0);
  EXPECT_EQ(collation->StriColl(collation, u"nul", u"NUL"), 0);
  EXPECT_LT(collation->StriColl(collation, u"NUL", u"NULL"), 0);
  EXPECT_GT(collation->StriColl(collation, u"b", u"A"), 0);
  EXPECT_EQ(fw.Count(sim::Call::StriColl), 4u);
}

}  // namespace
