// The file entries under the EFI 1.x shell (fallbacks over EFI_FILE_PROTOCOL)
// and the device path walk that opens a name there. A recording volume,
// installed with its device path on a handle of the simulated handle
// database, hands out recording file handles, so every member call, every
// name and every handle left open is visible.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/globals.h"
#include "platform/shell_access.h"
#include "sim/firmware.h"

namespace {

constexpr EFI_GUID DEVICE_PATH_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct FakeVolume;
struct FakeFile {
  EFI_FILE_PROTOCOL protocol;  // first: the handle is this address
  FakeVolume *volume;
  std::u16string name;
  bool open;
};

// A file system whose handles record every member call. Each member returns
// its own warning value, so a call that reached the wrong member shows.
struct FakeVolume {
  FakeVolume() { protocol.OpenVolume = OpenVolume; }

  FakeFile *NewFile(const std::u16string &name) {
    files.push_back(FakeFile{{}, this, name, true});
    EFI_FILE_PROTOCOL &p = files.back().protocol;
    p.Open = Open;
    p.Close = [](EFI_FILE_PROTOCOL *f) EFIAPI { return Record(f, "Close", 2); };
    p.Delete = [](EFI_FILE_PROTOCOL *f) EFIAPI { return Record(f, "Delete", 3); };
    p.Read = [](EFI_FILE_PROTOCOL *f, UINTN *, void *) EFIAPI { return Record(f, "Read", 4); };
    p.Write = [](EFI_FILE_PROTOCOL *f, UINTN *, void *) EFIAPI { return Record(f, "Write", 5); };
    p.GetPosition = [](EFI_FILE_PROTOCOL *f, UINT64 *)
                        EFIAPI { return Record(f, "GetPosition", 6); };
    p.SetPosition = [](EFI_FILE_PROTOCOL *f, UINT64) EFIAPI { return Record(f, "SetPosition", 7); };
    p.GetInfo = GetInfo;
    p.SetInfo = [](EFI_FILE_PROTOCOL *f, const EFI_GUID *, UINTN, void *)
                    EFIAPI { return Record(f, "SetInfo", 9); };
    p.Flush = [](EFI_FILE_PROTOCOL *f) EFIAPI { return Record(f, "Flush", 10); };
    return &files.back();
  }
  size_t OpenFiles() const {
    size_t n = 0;
    for (const FakeFile &f : files) n += f.open;
    return n;
  }

  static FakeFile *File(EFI_FILE_PROTOCOL *p) { return reinterpret_cast<FakeFile *>(p); }
  static EFI_STATUS Record(EFI_FILE_PROTOCOL *p, const char *member, EFI_STATUS status) {
    File(p)->volume->calls.push_back(member);
    if (std::string(member) == "Close") File(p)->open = false;
    return status;
  }
  static EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This,
                                      EFI_FILE_PROTOCOL **root) {
    FakeVolume *v = reinterpret_cast<FakeVolume *>(This);
    if (EFI_ERROR(v->volume_status)) return v->volume_status;
    *root = &v->NewFile(u"\\")->protocol;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Open(EFI_FILE_PROTOCOL *p, EFI_FILE_PROTOCOL **next, const CHAR16 *name,
                                UINT64, UINT64) {
    FakeVolume *v = File(p)->volume;
    v->calls.push_back("Open");
    v->names.push_back(name);
    v->aligned.push_back((reinterpret_cast<uintptr_t>(name) & 1) == 0);
    if (v->names.back() == v->fail_name) return EFI_NOT_FOUND;
    *next = &v->NewFile(name)->protocol;
    return EFI_SUCCESS;
  }
  // Reports info_size; writes the Size and FileSize fields only, as far as
  // the buffer reaches, and nothing else of the record.
  static EFI_STATUS EFIAPI GetInfo(EFI_FILE_PROTOCOL *p, const EFI_GUID *type, UINTN *size,
                                   void *buffer) {
    FakeVolume *v = File(p)->volume;
    v->calls.push_back("GetInfo");
    if (!GuidEquals(type, &EFI_FILE_INFO_ID)) return EFI_UNSUPPORTED;
    if (buffer == nullptr || *size < v->info_size) {
      if (v->info_first != EFI_BUFFER_TOO_SMALL) return v->info_first;
      *size = v->info_size;
      return EFI_BUFFER_TOO_SMALL;
    }
    if (EFI_ERROR(v->info_second)) return v->info_second;
    UINT64 fields[2] = {v->info_size, v->file_size};
    std::memcpy(buffer, fields, v->info_size < sizeof(fields) ? v->info_size : sizeof(fields));
    return EFI_SUCCESS;
  }

  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL protocol{};  // first: This converts back
  std::deque<FakeFile> files;                  // stable addresses
  std::vector<std::string> calls;
  std::vector<std::u16string> names;
  std::vector<bool> aligned;
  std::u16string fail_name = u"?";
  EFI_STATUS volume_status = EFI_SUCCESS;
  EFI_STATUS info_first = EFI_BUFFER_TOO_SMALL;
  EFI_STATUS info_second = EFI_SUCCESS;
  UINTN info_size = sizeof(EFI_FILE_INFO) + 24;
  UINT64 file_size = 4321;
};

// Device path bytes: one hardware node naming the volume, then whatever a
// case adds.
struct PathBytes {
  std::vector<uint8_t> bytes;
  void Node(uint8_t type, uint8_t subtype, UINT16 length, const std::vector<uint8_t> &payload) {
    bytes.insert(bytes.end(), {type, subtype, uint8_t(length), uint8_t(length >> 8)});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
  }
  void Device() { Node(1, 1, 6, {0x5A, 0xA5}); }
  void File(const std::u16string &name, bool terminated = true) {
    std::vector<uint8_t> payload;
    for (char16_t c : name) payload.insert(payload.end(), {uint8_t(c), uint8_t(c >> 8)});
    if (terminated) payload.insert(payload.end(), {0, 0});
    Node(MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, UINT16(4 + payload.size()), payload);
  }
  void End() { Node(END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, {}); }
};

EFI_DEVICE_PATH_PROTOCOL *EFIAPI NoPath(CHAR16 *) { return nullptr; }

class ShellFileFallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Options options;
    options.shell = sim::ShellKind::None;
    fw_.reset(new sim::Firmware(options));
    fw_->InstallGlobals();
    ClearShellAccessReferences();
    environment_.Signature = LEGACY_SHELL_ENVIRONMENT_SIGNATURE_GUID;
    environment_.NameToPath = NoPath;
    fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &environment_);
    fw_->InstallProtocol(gImageHandle, LEGACY_SHELL_INTERFACE_PROTOCOL, &interface_);
    ASSERT_EQ(ShellAccessInit(gImageHandle), EFI_SUCCESS);

    PathBytes device;
    device.Device();
    device.End();
    device_path_ = device.bytes;
    device_ = fw_->CreateHandle();
    fw_->InstallProtocol(device_, EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &volume_.protocol);
    fw_->InstallProtocol(device_, DEVICE_PATH_GUID, device_path_.data());
  }
  void TearDown() override {
    ClearShellAccessReferences();
    EXPECT_EQ(sim::LeakReport(*fw_), "");
  }
  SHELL_FILE_HANDLE NewHandle() { return &volume_.NewFile(u"f")->protocol; }

  std::unique_ptr<sim::Firmware> fw_;
  LEGACY_SHELL_ENVIRONMENT environment_{};
  LEGACY_SHELL_INTERFACE interface_{};
  FakeVolume volume_;
  std::vector<uint8_t> device_path_;
  EFI_HANDLE device_ = nullptr;
};

TEST_F(ShellFileFallbackTest, GetFileInfoReturnsAZeroedRecordOrNone) {
  struct Case {
    const char *name;
    EFI_STATUS first, second;
    UINTN reported;
    bool fail_allocation;
    bool record;
  } cases[] = {
      {"size query succeeds", EFI_SUCCESS, EFI_SUCCESS, 0, false, false},
      {"size query fails", EFI_DEVICE_ERROR, EFI_SUCCESS, 0, false, false},
      {"no memory", EFI_BUFFER_TOO_SMALL, EFI_SUCCESS, sizeof(EFI_FILE_INFO) + 24, true, false},
      {"read fails", EFI_BUFFER_TOO_SMALL, EFI_DEVICE_ERROR, sizeof(EFI_FILE_INFO) + 24, false,
       false},
      {"record", EFI_BUFFER_TOO_SMALL, EFI_SUCCESS, sizeof(EFI_FILE_INFO) + 24, false, true},
      {"short record", EFI_BUFFER_TOO_SMALL, EFI_SUCCESS, 8, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    volume_.info_first = c.first;
    volume_.info_second = c.second;
    volume_.info_size = c.reported;
    SHELL_FILE_HANDLE file = NewHandle();

    if (c.fail_allocation) fw_->FailNth(sim::Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES);
    EFI_FILE_INFO *info = gShell.Files.GetFileInfo(file);
    ASSERT_EQ(info != nullptr, c.record);
    if (info != nullptr) {
      // The block is the firmware's pool type, holds at least the fixed
      // record, and what the file system did not write reads as zero.
      const sim::PoolBlock &block = fw_->Blocks().at(info);
      EXPECT_EQ(block.type, EfiBootServicesData);
      EXPECT_GE(block.size, sizeof(EFI_FILE_INFO));
      EXPECT_EQ(info->Size, c.reported);
      EXPECT_EQ(info->FileSize, c.reported >= 16 ? 4321u : 0u);
      const uint8_t *rest = reinterpret_cast<const uint8_t *>(info) + 16;
      EXPECT_EQ(std::vector<uint8_t>(rest, rest + block.size - 16),
                std::vector<uint8_t>(block.size - 16, 0));
      ASSERT_EQ(gBS->FreePool(info), EFI_SUCCESS);
    }
    EXPECT_EQ(fw_->LiveBlocks(), 0u);

    // GetFileSize rests on the same record and gives it back.
    UINT64 size = 77;
    if (c.fail_allocation) fw_->FailNth(sim::Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(gShell.Files.GetFileSize(file, &size),
              c.record ? EFI_SUCCESS : EFI_DEVICE_ERROR);
    EXPECT_EQ(size, !c.record ? 77u : c.reported >= 16 ? 4321u : 0u);
    EXPECT_EQ(fw_->LiveBlocks(), 0u);
    fw_->ClearFaults();
  }
}

TEST_F(ShellFileFallbackTest, EachEntryReachesItsOwnMember) {
  SHELL_FILE_HANDLE file = NewHandle();
  UINTN n = 1;
  UINT64 position = 0;
  char buffer[1];
  const SHELL_FILE_FUNCTIONS &f = gShell.Files;
  struct Case {
    const char *member;
    EFI_STATUS result, expected;
  } cases[] = {
      {"Close", f.CloseFile(file), 2},
      {"Read", f.ReadFile(file, &n, buffer), 4},
      {"Write", f.WriteFile(file, &n, buffer), 5},
      {"SetPosition", f.SetFilePosition(file, 9), 7},
      {"Flush", f.FlushFile(file), 10},
  };
  ASSERT_EQ(volume_.calls.size(), sizeof(cases) / sizeof(cases[0]));
  for (size_t i = 0; i < volume_.calls.size(); ++i) {
    EXPECT_EQ(volume_.calls[i], cases[i].member);
    EXPECT_EQ(cases[i].result, cases[i].expected) << cases[i].member;
  }

  // No handle, or no record or result to work with: refused, no call made.
  volume_.calls.clear();
  EXPECT_EQ(f.GetFileInfo(nullptr), nullptr);
  for (EFI_STATUS s :
       {f.ReadFile(nullptr, &n, buffer), f.WriteFile(nullptr, &n, buffer), f.CloseFile(nullptr),
        f.SetFilePosition(nullptr, 0), f.FlushFile(nullptr), f.GetFileSize(nullptr, &position),
        f.GetFileSize(file, nullptr)}) {
    EXPECT_EQ(s, EFI_INVALID_PARAMETER);
  }
  EXPECT_TRUE(volume_.calls.empty());
}

TEST_F(ShellFileFallbackTest, DevicePathWalkOpensLevelByLevelAndClosesOnEveryFailure) {
  struct Case {
    const char *name;
    void (*build)(PathBytes *);
    size_t offset;  // 1 puts every node at an odd address
    std::u16string fail_name;
    bool fail_copy, fail_volume;
    EFI_STATUS status;
    std::vector<std::u16string> names;
  } cases[] = {
      {"two levels",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->File(u"UpdateConfig.ini");
         p->End();
       },
       0,
       u"?",
       false,
       false,
       EFI_SUCCESS,
       {u"EFI", u"UpdateConfig.ini"}},
      {"odd address",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->File(u"UpdateConfig.ini");
         p->End();
       },
       1,
       u"?",
       false,
       false,
       EFI_SUCCESS,
       {u"EFI", u"UpdateConfig.ini"}},
      {"name without NUL",
       [](PathBytes *p) {
         p->File(u"ab", false);
         p->End();
       },
       0,
       u"?",
       false,
       false,
       EFI_SUCCESS,
       {u"ab"}},
      {"no file nodes", [](PathBytes *p) { p->End(); }, 0, u"?", false, false, EFI_SUCCESS, {}},
      {"hardware node after a file",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->Node(1, 1, 6, {1, 2});
       },
       0,
       u"?",
       false,
       false,
       EFI_INVALID_PARAMETER,
       {u"EFI"}},
      {"media node that is not a file path",
       [](PathBytes *p) {
         p->Node(4, 3, 8, {0, 0, 0, 0});
       },
       0,
       u"?",
       false,
       false,
       EFI_INVALID_PARAMETER,
       {}},
      {"Length 0",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->Node(4, 4, 0, {0, 0, 0, 0});
       },
       0,
       u"?",
       false,
       false,
       EFI_INVALID_PARAMETER,
       {u"EFI"}},
      {"Length 3",
       [](PathBytes *p) {
         p->Node(4, 4, 3, {0, 0, 0, 0});
       },
       1,
       u"?",
       false,
       false,
       EFI_INVALID_PARAMETER,
       {}},
      {"second level missing",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->File(u"X");
         p->End();
       },
       0,
       u"X",
       false,
       false,
       EFI_NOT_FOUND,
       {u"EFI", u"X"}},
      {"no memory for the copy",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->End();
       },
       1,
       u"?",
       true,
       false,
       EFI_OUT_OF_RESOURCES,
       {}},
      {"volume does not open",
       [](PathBytes *p) {
         p->File(u"EFI");
         p->End();
       },
       0,
       u"?",
       false,
       true,
       EFI_DEVICE_ERROR,
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    volume_ = FakeVolume();
    volume_.fail_name = c.fail_name;
    volume_.volume_status = c.fail_volume ? EFI_DEVICE_ERROR : EFI_SUCCESS;
    PathBytes path;
    path.Device();
    c.build(&path);
    std::vector<uint8_t> storage(path.bytes.size() + 1);
    std::memcpy(storage.data() + c.offset, path.bytes.data(), path.bytes.size());
    EFI_DEVICE_PATH_PROTOCOL *cursor =
        reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(storage.data() + c.offset);
    if (c.fail_copy) fw_->FailNth(sim::Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES);

    SHELL_FILE_HANDLE handle = &storage;  // must be replaced
    EXPECT_EQ(OpenFileAlongDevicePath(&cursor, &handle, EFI_FILE_MODE_READ, 0), c.status);
    EXPECT_EQ(volume_.names, c.names);
    for (bool aligned : volume_.aligned) EXPECT_TRUE(aligned);
    if (c.status == EFI_SUCCESS) {
      // Only the last level stays open, and it is the handle handed back;
      // the cursor rests on the End node.
      ASSERT_EQ(volume_.OpenFiles(), 1u);
      EXPECT_EQ(handle, &volume_.files.back().protocol);
      EXPECT_EQ(cursor->Type, END_DEVICE_PATH_TYPE);
    } else {
      EXPECT_EQ(volume_.OpenFiles(), 0u);
      EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(fw_->LiveBlocks(), 0u);
    fw_->ClearFaults();
  }

  // No path, or a path no file system answers for.
  SHELL_FILE_HANDLE handle = &volume_;
  EXPECT_EQ(OpenFileAlongDevicePath(nullptr, &handle, EFI_FILE_MODE_READ, 0),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(handle, nullptr);
  PathBytes foreign;
  foreign.Node(1, 1, 6, {0, 0});
  foreign.End();
  EFI_DEVICE_PATH_PROTOCOL *cursor =
      reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(foreign.bytes.data());
  EXPECT_EQ(OpenFileAlongDevicePath(&cursor, &handle, EFI_FILE_MODE_READ, 0), EFI_NOT_FOUND);
}

TEST_F(ShellFileFallbackTest, OpenNamedFileFollowsTheShellsDevicePath) {
  static std::vector<uint8_t> path;
  PathBytes bytes;
  bytes.Device();
  bytes.File(u"UpdateConfig.ini");
  bytes.End();
  path = bytes.bytes;
  environment_.NameToPath = [](CHAR16 *) EFIAPI {
    return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(path.data());
  };

  SHELL_FILE_HANDLE handle = nullptr;
  EXPECT_EQ(OpenNamedFile(u"UpdateConfig.ini", &handle, EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  EXPECT_EQ(handle, &volume_.files.back().protocol);
  EXPECT_EQ(volume_.names, std::vector<std::u16string>{u"UpdateConfig.ini"});
  EXPECT_EQ(gShell.Files.CloseFile(handle), 2u);

  environment_.NameToPath = NoPath;
  EXPECT_EQ(OpenNamedFile(u"UpdateConfig.ini", &handle, EFI_FILE_MODE_READ, 0), EFI_DEVICE_ERROR);
  EXPECT_EQ(OpenNamedFile(nullptr, &handle, EFI_FILE_MODE_READ, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(OpenNamedFile(u"UpdateConfig.ini", nullptr, EFI_FILE_MODE_READ, 0),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(volume_.OpenFiles(), 0u);
}

}  // namespace
