// Finding the shell, running command lines and giving the interfaces back.
// Recording shell structs, installed on handles of the simulated handle
// database, pin exactly what each shell's execute entry receives; a spy on
// the boot services records which protocols were opened, looked up and
// closed, and on which handle. The simulated shells cover the whole path.
#include "platform/shell_access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/globals.h"
#include "platform/shell_directory.h"
#include "sim/firmware.h"

namespace {

const char CONFIG_TEXT[] = "ProductName=NO\r\nVersion=12\r\n";

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b) { return GuidEquals(&a, &b); }

// Wraps the lookups of the boot services, records each call and forwards it
// to the simulated firmware.
class BootSpy {
 public:
  struct Record {
    std::string service;
    EFI_HANDLE handle;
    EFI_GUID guid;
    bool proper;  // agent = image handle, no controller, GET_PROTOCOL
  };
  explicit BootSpy(EFI_BOOT_SERVICES *services) : services_(services), saved_(*services) {
    current_ = this;
    services->OpenProtocol = Open;
    services->CloseProtocol = Close;
    services->LocateProtocol = Locate;
    services->LocateHandle = LocateHandles;
  }
  ~BootSpy() {
    services_->OpenProtocol = saved_.OpenProtocol;
    services_->CloseProtocol = saved_.CloseProtocol;
    services_->LocateProtocol = saved_.LocateProtocol;
    services_->LocateHandle = saved_.LocateHandle;
    current_ = nullptr;
  }
  size_t Count(const std::string &service) const {
    size_t n = 0;
    for (const Record &r : calls) n += r.service == service;
    return n;
  }
  bool Opened(EFI_HANDLE handle, const EFI_GUID &guid) const {
    return Has("OpenProtocol", handle, guid);
  }
  bool Closed(EFI_HANDLE handle, const EFI_GUID &guid) const {
    return Has("CloseProtocol", handle, guid);
  }
  // Every open and close names the image as agent and no controller.
  bool AllProper() const {
    for (const Record &r : calls) {
      if (!r.proper) return false;
    }
    return true;
  }

  std::vector<Record> calls;

 private:
  bool Has(const char *service, EFI_HANDLE handle, const EFI_GUID &guid) const {
    for (const Record &r : calls) {
      if (r.service == service && r.handle == handle && SameGuid(r.guid, guid)) return true;
    }
    return false;
  }
  static EFI_STATUS EFIAPI Open(EFI_HANDLE h, const EFI_GUID *g, void **i, EFI_HANDLE agent,
                                EFI_HANDLE controller, UINT32 attributes) {
    bool proper = agent == gImageHandle && controller == nullptr &&
                  attributes == EFI_OPEN_PROTOCOL_GET_PROTOCOL;
    current_->calls.push_back({"OpenProtocol", h, *g, proper});
    return current_->saved_.OpenProtocol(h, g, i, agent, controller, attributes);
  }
  static EFI_STATUS EFIAPI Close(EFI_HANDLE h, const EFI_GUID *g, EFI_HANDLE agent,
                                 EFI_HANDLE controller) {
    bool proper = agent == gImageHandle && controller == nullptr;
    current_->calls.push_back({"CloseProtocol", h, *g, proper});
    return current_->saved_.CloseProtocol(h, g, agent, controller);
  }
  static EFI_STATUS EFIAPI Locate(const EFI_GUID *g, void *registration, void **i) {
    current_->calls.push_back({"LocateProtocol", nullptr, *g, registration == nullptr});
    return current_->saved_.LocateProtocol(g, registration, i);
  }
  static EFI_STATUS EFIAPI LocateHandles(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *g, void *key,
                                         UINTN *size, EFI_HANDLE *buffer) {
    current_->calls.push_back({"LocateHandle", nullptr, *g, type == ByProtocol && key == nullptr});
    return current_->saved_.LocateHandle(type, g, key, size, buffer);
  }

  static BootSpy *current_;
  EFI_BOOT_SERVICES *services_;
  EFI_BOOT_SERVICES saved_;
};
BootSpy *BootSpy::current_ = nullptr;

// Distinct members, so a file entry wired to the wrong member shows.
template <int N>
EFI_STATUS EFIAPI HandleOnly(SHELL_FILE_HANDLE) {
  return N;
}
template <int N>
EFI_STATUS EFIAPI SizeAndBuffer(SHELL_FILE_HANDLE, UINTN *, void *) {
  return N;
}
template <int N>
EFI_STATUS EFIAPI Position(SHELL_FILE_HANDLE, UINT64 *) {
  return N;
}
EFI_FILE_INFO *EFIAPI NoInfo(SHELL_FILE_HANDLE) { return nullptr; }
EFI_STATUS EFIAPI SetInfo(SHELL_FILE_HANDLE, const EFI_FILE_INFO *) { return 7; }
EFI_STATUS EFIAPI SetPosition(SHELL_FILE_HANDLE, UINT64) { return 8; }

// A UEFI Shell 2.0 protocol that records what Execute and the file opens
// receive. The members carry no `This`, so the live instance is global.
struct FakeShell {
  FakeShell() {
    current = this;
    protocol.Execute = Execute;
    protocol.GetFileInfo = NoInfo;
    protocol.SetFileInfo = SetInfo;
    protocol.OpenFileByName = OpenFileByName;
    protocol.CloseFile = CloseFile;
    protocol.ReadFile = SizeAndBuffer<1>;
    protocol.WriteFile = SizeAndBuffer<2>;
    protocol.DeleteFile = HandleOnly<3>;
    protocol.GetFilePosition = Position<4>;
    protocol.SetFilePosition = SetPosition;
    protocol.FlushFile = HandleOnly<5>;
    protocol.GetFileSize = Position<6>;
  }
  ~FakeShell() { current = nullptr; }

  static EFI_STATUS EFIAPI Execute(EFI_HANDLE *parent, CHAR16 *line, CHAR16 **environment,
                                   EFI_STATUS *status) {
    ++current->executes;
    current->parent = parent;
    current->command = line;
    current->environment_was_null = environment == nullptr;
    current->status_ref = status;
    if (status != nullptr) *status = current->command_status;
    return current->result;
  }
  static EFI_STATUS EFIAPI OpenFileByName(const CHAR16 *name, SHELL_FILE_HANDLE *handle, UINT64) {
    current->opened.push_back(name);
    if (EFI_ERROR(current->open_result)) return current->open_result;
    *handle = &current->file_token;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE handle) {
    current->closed.push_back(handle);
    return EFI_SUCCESS;
  }

  static FakeShell *current;
  EFI_SHELL_PROTOCOL protocol{};
  int executes = 0;
  EFI_HANDLE *parent = nullptr;
  std::u16string command;
  bool environment_was_null = false;
  EFI_STATUS *status_ref = nullptr;
  EFI_STATUS result = EFI_SUCCESS;
  EFI_STATUS command_status = EFI_SUCCESS;
  EFI_STATUS open_result = EFI_SUCCESS;
  std::vector<std::u16string> opened;
  std::vector<SHELL_FILE_HANDLE> closed;
  int file_token = 0;
};
FakeShell *FakeShell::current = nullptr;

// An EFI 1.x shell environment, signed or not. Execute records into the
// instance made last.
struct LegacyEnvironment {
  explicit LegacyEnvironment(bool with_signature) {
    current = this;
    environment.Execute = Execute;
    if (with_signature) environment.Signature = LEGACY_SHELL_ENVIRONMENT_SIGNATURE_GUID;
  }
  ~LegacyEnvironment() {
    if (current == this) current = nullptr;
  }
  static EFI_STATUS EFIAPI Execute(EFI_HANDLE image, CHAR16 *line, BOOLEAN output) {
    ++current->executes;
    current->handle_value = image;
    current->command = line;
    current->output = output;
    return current->result;
  }

  static LegacyEnvironment *current;
  LEGACY_SHELL_ENVIRONMENT environment{};
  int executes = 0;
  EFI_HANDLE handle_value = nullptr;
  std::u16string command;
  BOOLEAN output = 0xFF;
  EFI_STATUS result = EFI_SUCCESS;
};
LegacyEnvironment *LegacyEnvironment::current = nullptr;

class ShellAccessTest : public ::testing::Test {
 protected:
  void Start(sim::ShellKind kind, bool with_collation = true, bool odd_paths = false) {
    spy_.reset();
    fw_.reset();  // one firmware at a time
    sim::Options options;
    options.shell = kind;
    options.with_collation = with_collation;
    options.odd_device_paths = odd_paths;
    fw_.reset(new sim::Firmware(options));
    fw_->AddFile("UpdateConfig.ini", CONFIG_TEXT);
    fw_->InstallGlobals();
    ClearShellAccessReferences();
    spy_.reset(new BootSpy(gBS));
  }
  void TearDown() override {
    spy_.reset();
    ClearShellAccessReferences();
    if (fw_ && check_leaks_) {
      EXPECT_EQ(sim::LeakReport(*fw_), "");
    }
  }

  std::unique_ptr<sim::Firmware> fw_;
  std::unique_ptr<BootSpy> spy_;
  bool check_leaks_ = true;
};

TEST_F(ShellAccessTest, ShellProtocolIsTakenFromImageHandleThenFromAnywhere) {
  struct Case {
    bool on_image;
    bool closed_at_shutdown;  // only an open on the image handle can be closed
  } cases[] = {{true, true}, {false, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.on_image);
    Start(sim::ShellKind::None);
    FakeShell shell;
    EFI_HANDLE where = c.on_image ? gImageHandle : fw_->CreateHandle();
    fw_->InstallProtocol(where, EFI_SHELL_PROTOCOL_GUID, &shell.protocol);

    EXPECT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
    EXPECT_EQ(gShell.Protocol, &shell.protocol);
    EXPECT_EQ(spy_->Count("OpenProtocol"), 1u);
    EXPECT_TRUE(spy_->Opened(gImageHandle, EFI_SHELL_PROTOCOL_GUID));
    EXPECT_EQ(spy_->Count("LocateProtocol"), c.on_image ? 0u : 1u);
    EXPECT_EQ(spy_->Count("LocateHandle"), 0u);

    EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);
    EXPECT_EQ(gShell.Protocol == nullptr, c.closed_at_shutdown);
    TearDown();
  }
}

TEST_F(ShellAccessTest, BothShellsPresentUsesOnlyTheShellProtocol) {
  Start(sim::ShellKind::None);
  FakeShell shell;
  LegacyEnvironment legacy(true);
  LEGACY_SHELL_INTERFACE interface {};
  fw_->InstallProtocol(fw_->CreateHandle(), EFI_SHELL_PROTOCOL_GUID, &shell.protocol);
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &legacy.environment);
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL, &interface);

  EXPECT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
  EXPECT_FALSE(spy_->Opened(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL));
  EXPECT_FALSE(spy_->Opened(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL));
  EXPECT_EQ(gShell.LegacyEnvironment, nullptr);
  EXPECT_EQ(gShell.LegacyInterface, nullptr);

  // Every file entry is the protocol's own member, GetFileSize included.
  const SHELL_FILE_FUNCTIONS &f = gShell.Files;
  EXPECT_EQ(f.GetFileInfo, shell.protocol.GetFileInfo);
  EXPECT_EQ(f.ReadFile, shell.protocol.ReadFile);
  EXPECT_EQ(f.WriteFile, shell.protocol.WriteFile);
  EXPECT_EQ(f.CloseFile, shell.protocol.CloseFile);
  EXPECT_EQ(f.SetFilePosition, shell.protocol.SetFilePosition);
  EXPECT_EQ(f.FlushFile, shell.protocol.FlushFile);
  EXPECT_EQ(f.GetFileSize, shell.protocol.GetFileSize);

  EFI_HANDLE image = gImageHandle;
  EXPECT_EQ(RunShellCommand(&image, u"UpdateHWNew.nsh", nullptr), EFI_SUCCESS);
  EXPECT_EQ(shell.executes, 1);
  EXPECT_EQ(legacy.executes, 0);
}

// Where the legacy environment sits decides where it is looked for and
// which handle shutdown closes it on.
TEST_F(ShellAccessTest, LegacyEnvironmentIsTheFirstWithTheSignature) {
  Start(sim::ShellKind::None);
  LegacyEnvironment signed_on_image(true), unsigned_env(false), first(true), second(true);
  LEGACY_SHELL_INTERFACE interface {};
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL, &interface);

  // On the image handle with the signature: no handle search at all.
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL,
                       &signed_on_image.environment);
  EXPECT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
  EXPECT_EQ(gShell.LegacyEnvironment, &signed_on_image.environment);
  EXPECT_EQ(gShell.LegacyEnvironmentHandle, nullptr);
  EXPECT_EQ(gShell.LegacyInterface, &interface);
  EXPECT_EQ(spy_->Count("LocateHandle"), 0u);
  EXPECT_NE(gShell.Files.GetFileSize, nullptr);
  EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);
  EXPECT_TRUE(spy_->Closed(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL));
  EXPECT_TRUE(spy_->Closed(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL));
  EXPECT_EQ(gShell.LegacyEnvironment, nullptr);
  EXPECT_EQ(gShell.LegacyInterface, nullptr);

  // Without the signature on the image handle: the first handle, in
  // LocateHandle order, whose environment carries it.
  ClearShellAccessReferences();
  spy_->calls.clear();
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &unsigned_env.environment);
  EFI_HANDLE other = fw_->CreateHandle(), h_first = fw_->CreateHandle();
  EFI_HANDLE h_second = fw_->CreateHandle();
  fw_->InstallProtocol(other, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &unsigned_env.environment);
  fw_->InstallProtocol(h_first, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &first.environment);
  fw_->InstallProtocol(h_second, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &second.environment);
  EXPECT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
  EXPECT_EQ(gShell.LegacyEnvironment, &first.environment);
  EXPECT_EQ(gShell.LegacyEnvironmentHandle, h_first);
  EXPECT_FALSE(spy_->Opened(h_second, LEGACY_SHELL_ENVIRONMENT_PROTOCOL));
  EXPECT_EQ(fw_->LiveBlocks(), 0u);  // the handle buffer went back
  EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);
  EXPECT_TRUE(spy_->Closed(h_first, LEGACY_SHELL_ENVIRONMENT_PROTOCOL));
  EXPECT_FALSE(spy_->Closed(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL));
  EXPECT_EQ(gShell.LegacyEnvironment, nullptr);
  EXPECT_EQ(gShell.LegacyEnvironmentHandle, nullptr);
}

// Every way of not finding a complete shell: EFI_NOT_FOUND, no file
// entries, no block left, and the handle search keeps nothing it did not
// accept.
TEST_F(ShellAccessTest, IncompleteOrMissingShellIsNotFound) {
  struct Case {
    const char *name;
    bool env_signed, env_present, interface_present;
    sim::Call fail;
    unsigned nth;
    EFI_STATUS find_status;
    bool env_kept;
  } cases[] = {
      {"no shell at all", false, false, false, sim::Call::COUNT, 0, EFI_NOT_FOUND, false},
      {"no interface", true, true, false, sim::Call::COUNT, 0, EFI_SUCCESS, true},
      {"no interface, env unsigned", false, true, true, sim::Call::COUNT, 0, EFI_NOT_FOUND, false},
      {"handle buffer not allocated", false, true, true, sim::Call::AllocatePool, 1,
       EFI_OUT_OF_RESOURCES, false},
      {"second handle search fails", false, true, true, sim::Call::LocateHandle, 2,
       EFI_DEVICE_ERROR, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Start(sim::ShellKind::None);
    LegacyEnvironment env(c.env_signed);
    LEGACY_SHELL_INTERFACE interface {};
    if (c.env_present) {
      fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &env.environment);
    }
    if (c.interface_present) {
      fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL, &interface);
    }
    if (c.nth != 0) fw_->FailNth(c.fail, c.nth, EFI_DEVICE_ERROR);

    EXPECT_EQ(FindLegacyShellEnvironment(gImageHandle), c.find_status);
    ClearShellAccessReferences();
    if (c.nth != 0) fw_->FailNth(c.fail, c.nth + fw_->Count(c.fail), EFI_DEVICE_ERROR);
    EXPECT_EQ(ShellAccessInit(gImageHandle), EFI_NOT_FOUND);
    EXPECT_EQ(gShell.LegacyEnvironment != nullptr, c.env_kept);
    EXPECT_EQ(gShell.LegacyEnvironmentHandle, nullptr);
    EXPECT_EQ(gShell.Files.GetFileInfo, nullptr);
    EXPECT_EQ(gShell.Files.CloseFile, nullptr);
    EXPECT_EQ(fw_->LiveBlocks(), 0u);
    EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);
    TearDown();
  }
}

TEST_F(ShellAccessTest, ShellProtocolExecuteGetsTheReferenceAndItsStatusIsReturned) {
  const EFI_STATUS results[] = {EFI_SUCCESS, EFI_NOT_FOUND, EFI_ABORTED, 4 /* a warning */};
  for (EFI_STATUS result : results) {
    Start(sim::ShellKind::None);
    FakeShell shell;
    fw_->InstallProtocol(gImageHandle, EFI_SHELL_PROTOCOL_GUID, &shell.protocol);
    ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
    shell.result = result;
    shell.command_status = EFI_ABORTED;

    EFI_HANDLE copy = gImageHandle;
    EFI_STATUS command_status = EFI_SUCCESS;
    EXPECT_EQ(RunShellCommand(&copy, u"UpdateHWOld.nsh", &command_status), result);
    EXPECT_EQ(shell.parent, &copy);
    EXPECT_EQ(shell.command, u"UpdateHWOld.nsh");
    EXPECT_TRUE(shell.environment_was_null);
    EXPECT_EQ(shell.status_ref, &command_status);
    EXPECT_EQ(command_status, EFI_ABORTED);
    TearDown();
  }
}

TEST_F(ShellAccessTest, LegacyExecuteResultArrivesOnlyThroughTheStatusReference) {
  Start(sim::ShellKind::None);
  LegacyEnvironment env(true);
  LEGACY_SHELL_INTERFACE interface {};
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &env.environment);
  fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL, &interface);
  ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);

  env.result = EFI_NOT_FOUND;  // the script could not be started
  EFI_HANDLE copy = gImageHandle;
  EFI_STATUS command_status = EFI_SUCCESS;
  EXPECT_EQ(RunShellCommand(&copy, u"UpdateHWNew.nsh", &command_status), EFI_SUCCESS);
  EXPECT_EQ(command_status, EFI_NOT_FOUND);
  EXPECT_EQ(env.handle_value, gImageHandle);
  EXPECT_EQ(env.command, u"UpdateHWNew.nsh");
  EXPECT_EQ(env.output, 0);

  EXPECT_EQ(RunShellCommand(&copy, u"UpdateHWOld.nsh", nullptr), EFI_SUCCESS);
  EXPECT_EQ(env.executes, 2);
  // No handle to read the value from: refused before the shell is called.
  EXPECT_EQ(RunShellCommand(nullptr, u"UpdateHWOld.nsh", &command_status), EFI_INVALID_PARAMETER);
  EXPECT_EQ(env.executes, 2);
}

TEST_F(ShellAccessTest, WithoutShellRunIsUnsupportedAndStatusUntouched) {
  Start(sim::ShellKind::None);
  EXPECT_EQ(ShellAccessInit(gImageHandle), EFI_NOT_FOUND);
  EFI_HANDLE copy = gImageHandle;
  EFI_STATUS command_status = 0x1234;
  EXPECT_EQ(RunShellCommand(&copy, u"UpdateHWNew.nsh", &command_status), EFI_UNSUPPORTED);
  EXPECT_EQ(command_status, 0x1234u);
  SHELL_FILE_HANDLE file = nullptr;
  EXPECT_EQ(OpenNamedFile(u"UpdateConfig.ini", &file, EFI_FILE_MODE_READ, 0), EFI_UNSUPPORTED);
  EXPECT_TRUE(fw_->Executed().empty());
}

TEST_F(ShellAccessTest, OpenByNameUnderTheShellProtocolNeedsCollation) {
  struct Case {
    const char *name;
    bool with_collation;
    EFI_STATUS lookup_fault;
    EFI_STATUS status;
  } cases[] = {
      {"collation present", true, EFI_SUCCESS, EFI_SUCCESS},
      {"no collation in the system", false, EFI_SUCCESS, EFI_NOT_FOUND},
      {"collation lookup fails", true, EFI_DEVICE_ERROR, EFI_DEVICE_ERROR},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Start(sim::ShellKind::None, c.with_collation);
    FakeShell shell;
    fw_->InstallProtocol(gImageHandle, EFI_SHELL_PROTOCOL_GUID, &shell.protocol);
    ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
    if (c.lookup_fault != EFI_SUCCESS) fw_->FailNth(sim::Call::LocateProtocol, 1, c.lookup_fault);

    SHELL_FILE_HANDLE file = nullptr;
    EXPECT_EQ(OpenNamedFile(u"UpdateConfig.ini", &file, EFI_FILE_MODE_READ, 0), c.status);
    EXPECT_EQ(shell.opened, std::vector<std::u16string>{u"UpdateConfig.ini"});
    if (c.status == EFI_SUCCESS) {
      EXPECT_EQ(file, &shell.file_token);
      EXPECT_TRUE(shell.closed.empty());
      EXPECT_EQ(fw_->Count(sim::Call::StriColl), 2u);  // "NUL" and "NULL"
      // Looked up once, kept for the run.
      EXPECT_EQ(OpenNamedFile(u"b", &file, EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
      EXPECT_EQ(spy_->Count("LocateProtocol"), 1u);
    } else {
      // The file just opened is closed again and not handed out.
      EXPECT_EQ(shell.closed, std::vector<SHELL_FILE_HANDLE>{&shell.file_token});
      EXPECT_EQ(file, nullptr);
      EXPECT_EQ(gShell.Collation, nullptr);
    }
    TearDown();
  }

  // A failed open is handed on as it is, and nothing is looked up for it.
  Start(sim::ShellKind::None);
  FakeShell shell;
  fw_->InstallProtocol(gImageHandle, EFI_SHELL_PROTOCOL_GUID, &shell.protocol);
  ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
  shell.open_result = EFI_ACCESS_DENIED;
  SHELL_FILE_HANDLE file = nullptr;
  EXPECT_EQ(OpenNamedFile(u"UpdateConfig.ini", &file, EFI_FILE_MODE_READ, 0), EFI_ACCESS_DENIED);
  EXPECT_EQ(OpenNamedFile(nullptr, &file, EFI_FILE_MODE_READ, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(shell.opened.size(), 1u);
  EXPECT_EQ(spy_->Count("LocateProtocol"), 0u);
}

// Reads a whole file the way the C library's file layer does: open by
// name, size, position, reads in small pieces, close. The first failure is
// returned, with the file closed.
EFI_STATUS ReadWholeFile(const CHAR16 *name, std::string *bytes) {
  SHELL_FILE_HANDLE file = nullptr;
  EFI_STATUS status = OpenNamedFile(name, &file, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR(status)) return status;
  const SHELL_FILE_FUNCTIONS &f = gShell.Files;
  UINT64 size = 0;
  status = f.GetFileSize(file, &size);
  if (!EFI_ERROR(status)) status = f.SetFilePosition(file, 0);
  while (!EFI_ERROR(status)) {
    char piece[7];
    UINTN got = sizeof(piece);
    status = f.ReadFile(file, &got, piece);
    if (EFI_ERROR(status) || got == 0) break;
    bytes->append(piece, got);
  }
  if (!EFI_ERROR(status) && bytes->size() != size) status = EFI_DEVICE_ERROR;
  EFI_STATUS closed = f.CloseFile(file);
  return EFI_ERROR(status) ? status : closed;
}

// The whole path on the simulated shells: the configuration file read
// through the file entries the shell gave, the script run, and shutdown
// giving back what was opened on the image.
TEST_F(ShellAccessTest, SimulatedShellsReadTheFileAndRunTheScript) {
  struct Case {
    sim::ShellKind kind;
    bool odd_paths;
  } cases[] = {{sim::ShellKind::Uefi2, false},
               {sim::ShellKind::Legacy, false},
               {sim::ShellKind::Legacy, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind) * 10 + c.odd_paths);
    Start(c.kind, true, c.odd_paths);
    ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
    std::string bytes;
    EXPECT_EQ(ReadWholeFile(u"UpdateConfig.ini", &bytes), EFI_SUCCESS);
    EXPECT_EQ(bytes, CONFIG_TEXT);
    std::string none;
    EXPECT_NE(ReadWholeFile(u"Missing.ini", &none), EFI_SUCCESS);

    EFI_HANDLE copy = gImageHandle;
    EFI_STATUS command_status = EFI_ABORTED;
    EXPECT_EQ(RunShellCommand(&copy, u"UpdateHWOld.nsh", &command_status), EFI_SUCCESS);
    EXPECT_EQ(command_status, EFI_SUCCESS);
    EXPECT_EQ(fw_->Executed(), std::vector<std::u16string>{u"UpdateHWOld.nsh"});

    EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);
    EXPECT_TRUE(spy_->AllProper());
    // The 2.0 shell protocol was found by lookup, not opened on the image:
    // its close fails and the reference stays. The legacy ones all close.
    EXPECT_EQ(gShell.Protocol != nullptr, c.kind == sim::ShellKind::Uefi2);
    EXPECT_EQ(gShell.LegacyEnvironment, nullptr);
    EXPECT_EQ(gShell.LegacyInterface, nullptr);
    EXPECT_EQ(fw_->Errors(), std::vector<std::string>{});
    TearDown();
  }
}

// Every firmware call made to fail in turn, at each call number, on each
// shell: nothing crashes, no block or file is left behind, bytes are
// reported read only when they are the file's, and the script runs at most
// once.
TEST_F(ShellAccessTest, SurvivesEveryInjectedFault) {
  unsigned injected = 0;
  for (sim::ShellKind kind :
       {sim::ShellKind::Uefi2, sim::ShellKind::Legacy, sim::ShellKind::None}) {
    for (unsigned call = 0; call < static_cast<unsigned>(sim::Call::COUNT); ++call) {
      for (unsigned nth = 1;; ++nth) {
        SCOPED_TRACE(std::string(sim::CallName(sim::Call(call))) + " #" + std::to_string(nth) +
                     " shell " + std::to_string(static_cast<int>(kind)));
        Start(kind, true, nth % 2 == 0);
        fw_->FailNth(sim::Call(call), nth, EFI_DEVICE_ERROR);
        // A release or a close the firmware refuses leaves its block or file
        // behind whatever the caller does.
        check_leaks_ = call != static_cast<unsigned>(sim::Call::FreePool) &&
                       call != static_cast<unsigned>(sim::Call::FileClose);
        if (!check_leaks_) fw_->AllowLeftovers();

        EFI_STATUS init = ShellAccessInit(gImageHandle);
        std::string bytes;
        EFI_STATUS read = ReadWholeFile(u"UpdateConfig.ini", &bytes);
        EFI_HANDLE copy = gImageHandle;
        EFI_STATUS run = RunShellCommand(&copy, u"UpdateHWNew.nsh", nullptr);
        EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);

        if (EFI_ERROR(init)) {
          EXPECT_NE(read, EFI_SUCCESS);
        }
        if (read == EFI_SUCCESS) {
          EXPECT_EQ(bytes, CONFIG_TEXT);
        }
        EXPECT_LE(fw_->Executed().size(), run == EFI_SUCCESS ? 1u : 0u);
        bool fired = fw_->FaultsInjected() != 0;
        TearDown();
        check_leaks_ = true;
        if (!fired) break;
        ++injected;
      }
    }
  }
  RecordProperty("faults_injected", static_cast<int>(injected));
  std::printf("faults injected: %u\n", injected);
  EXPECT_GT(injected, 30u);
}

// A folder is joined to the current directory, with a separator only where
// it has none (UEFI Shell 2.0), or quoted on a "cd" line (EFI 1.x); a line
// past the bound is refused and the directory stays.
TEST_F(ShellAccessTest, ChangeCurrentDirectoryJoinsTheFolderAndRefusesTooLongALine) {
  for (sim::ShellKind kind : {sim::ShellKind::Uefi2, sim::ShellKind::Legacy}) {
    SCOPED_TRACE(static_cast<int>(kind));
    Start(kind);
    fw_->AddFile("kits\\a b\\UpdateConfig.ini", CONFIG_TEXT);
    ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);
    EXPECT_EQ(ChangeCurrentDirectory(u"kits"), EFI_SUCCESS);
    EXPECT_EQ(ChangeCurrentDirectory(u"a b"), EFI_SUCCESS);
    EXPECT_EQ(fw_->CurrentDirectory(), u"kits\\a b");
    std::u16string too_long(2044, u'x');
    EXPECT_EQ(ChangeCurrentDirectory(too_long.c_str()), EFI_BAD_BUFFER_SIZE);
    EXPECT_EQ(fw_->CurrentDirectory(), u"kits\\a b");
    EXPECT_EQ(ShellAccessShutdown(gImageHandle), EFI_SUCCESS);
  }
}

}  // namespace
