// The simulated firmware's core: pool accounting, misuse detection, fault
// injection and call counts, the handle database and the consoles. The
// services are called through the system table, as product code calls them.
#include "sim/firmware.h"

#include <gtest/gtest.h>

#include "platform/globals.h"

namespace {

constexpr EFI_GUID GUID_A = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID GUID_B = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};

EFI_BOOT_SERVICES *Services(sim::Firmware &fw) { return fw.SystemTable()->BootServices; }

TEST(FirmwarePool, CountsLivePeakAndTotal) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES *bs = Services(fw);
  void *a = nullptr;
  void *b = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiLoaderData, 100, &a), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 28, &b), EFI_SUCCESS);
  EXPECT_EQ(fw.LiveBlocks(), 2u);
  EXPECT_EQ(fw.LiveBytes(), 128u);
  EXPECT_EQ(fw.Blocks().at(a).type, EfiLoaderData);
  EXPECT_EQ(fw.Blocks().at(b).size, 28u);
  EXPECT_NE(sim::LeakReport(fw), "");
  ASSERT_EQ(bs->FreePool(a), EFI_SUCCESS);
  void *c = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 50, &c), EFI_SUCCESS);
  EXPECT_EQ(fw.LiveBytes(), 78u);
  EXPECT_EQ(fw.PeakBytes(), 128u);
  EXPECT_EQ(fw.TotalAllocations(), 3u);
  bs->FreePool(b);
  bs->FreePool(c);
  EXPECT_EQ(fw.LiveBlocks(), 0u);
  EXPECT_EQ(sim::LeakReport(fw), "");
  EXPECT_EQ(fw.Count(sim::Call::AllocatePool), 3u);
  EXPECT_EQ(fw.Count(sim::Call::FreePool), 3u);
}

TEST(FirmwarePool, MisusedReleasesAreReportedNotFatal) {
  sim::Firmware fw;
  fw.AllowLeftovers();
  EFI_BOOT_SERVICES *bs = Services(fw);
  void *block = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 16, &block), EFI_SUCCESS);
  ASSERT_EQ(bs->FreePool(block), EFI_SUCCESS);
  EXPECT_EQ(sim::LeakReport(fw), "");
  int local = 0;
  EXPECT_EQ(bs->FreePool(block), EFI_INVALID_PARAMETER);   // double release
  EXPECT_EQ(bs->FreePool(&local), EFI_INVALID_PARAMETER);  // never allocated
  EXPECT_EQ(bs->FreePool(nullptr), EFI_INVALID_PARAMETER);
  ASSERT_EQ(fw.Errors().size(), 3u);
  EXPECT_NE(fw.Errors()[0].find("already released"), std::string::npos);
  EXPECT_NE(fw.Errors()[1].find("never handed out"), std::string::npos);
  EXPECT_NE(sim::LeakReport(fw).find("already released"), std::string::npos);
}

TEST(FirmwarePool, RefusesBadRequests) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES *bs = Services(fw);
  void *block = reinterpret_cast<void *>(0x1234);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs->AllocatePool(static_cast<EFI_MEMORY_TYPE>(7), 8, &block), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, size_t{1} << 40, &block), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(block, reinterpret_cast<void *>(0x1234));
  EXPECT_EQ(fw.LiveBlocks(), 0u);
}

TEST(FirmwareFaults, NthCallFailsCountingFromNow) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES *bs = Services(fw);
  void *blocks[4] = {};
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &blocks[0]), EFI_SUCCESS);
  fw.FailNth(sim::Call::AllocatePool, 2, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &blocks[1]), EFI_SUCCESS);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &blocks[2]), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &blocks[3]), EFI_SUCCESS);
  EXPECT_EQ(blocks[2], nullptr);
  EXPECT_EQ(fw.Count(sim::Call::AllocatePool), 4u);
  EXPECT_EQ(fw.FaultsInjected(), 1u);
  EXPECT_EQ(fw.LiveBlocks(), 3u);
  for (void *block : blocks) {
    if (block != nullptr) bs->FreePool(block);
  }
}

TEST(FirmwareFaults, FailAllUntilCleared) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES *bs = Services(fw);
  void *found = nullptr;
  fw.FailAll(sim::Call::LocateProtocol);
  EXPECT_EQ(bs->LocateProtocol(&EFI_SHELL_PROTOCOL_GUID, nullptr, &found), EFI_DEVICE_ERROR);
  EXPECT_EQ(bs->LocateProtocol(&EFI_SHELL_PROTOCOL_GUID, nullptr, &found), EFI_DEVICE_ERROR);
  EXPECT_EQ(found, nullptr);
  fw.ClearFaults();
  EXPECT_EQ(bs->LocateProtocol(&EFI_SHELL_PROTOCOL_GUID, nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(fw.FaultsInjected(), 2u);
  EXPECT_EQ(fw.Count(sim::Call::LocateProtocol), 3u);
  fw.ResetCounts();
  EXPECT_EQ(fw.Count(sim::Call::LocateProtocol), 0u);
}

TEST(FirmwareFaults, EveryCallKindHasAName) {
  for (unsigned i = 0; i < static_cast<unsigned>(sim::Call::COUNT); ++i) {
    EXPECT_STRNE(sim::CallName(static_cast<sim::Call>(i)), "?") << i;
  }
  EXPECT_STREQ(sim::CallName(sim::Call::FileRead), "FileRead");
}

TEST(FirmwareHandles, OpenCloseAndLocate) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES *bs = Services(fw);
  EFI_HANDLE image = fw.ImageHandle();
  EFI_HANDLE first = fw.CreateHandle();
  EFI_HANDLE second = fw.CreateHandle();
  int one = 1;
  int two = 2;
  fw.InstallProtocol(second, GUID_A, &two);
  fw.InstallProtocol(first, GUID_A, &one);

  void *found = nullptr;
  EXPECT_EQ(bs->OpenProtocol(first, &GUID_A, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(found, &one);
  EXPECT_EQ(bs->OpenProtocol(first, &GUID_B, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_UNSUPPORTED);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(bs->OpenProtocol(&one, &GUID_A, &found, image, nullptr,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.OpenProtocolCount(), 1u);
  EXPECT_EQ(bs->CloseProtocol(first, &GUID_A, image, nullptr), EFI_SUCCESS);
  EXPECT_EQ(bs->CloseProtocol(first, &GUID_A, image, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(bs->CloseProtocol(second, &GUID_B, image, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(fw.OpenProtocolCount(), 0u);

  // LocateProtocol takes the first handle in creation order, not in
  // installation order.
  EXPECT_EQ(bs->LocateProtocol(&GUID_A, nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &one);
  EXPECT_EQ(bs->LocateProtocol(&GUID_B, nullptr, &found), EFI_NOT_FOUND);
  fw.UninstallProtocol(first, GUID_A);
  EXPECT_EQ(bs->LocateProtocol(&GUID_A, nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &two);
}

TEST(FirmwareHandles, LocateHandleReportsSizeThenFills) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES *bs = Services(fw);
  EFI_HANDLE a = fw.CreateHandle();
  fw.CreateHandle();
  EFI_HANDLE c = fw.CreateHandle();
  int value = 0;
  fw.InstallProtocol(a, GUID_A, &value);
  fw.InstallProtocol(c, GUID_A, &value);

  UINTN size = 0;
  EXPECT_EQ(bs->LocateHandle(ByProtocol, &GUID_A, nullptr, &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 2 * sizeof(EFI_HANDLE));
  EFI_HANDLE handles[3] = {};
  size = sizeof(handles);
  EXPECT_EQ(bs->LocateHandle(ByProtocol, &GUID_A, nullptr, &size, handles), EFI_SUCCESS);
  EXPECT_EQ(size, 2 * sizeof(EFI_HANDLE));
  EXPECT_EQ(handles[0], a);
  EXPECT_EQ(handles[1], c);
  EXPECT_EQ(handles[2], nullptr);
  size = 0;
  EXPECT_EQ(bs->LocateHandle(ByProtocol, &GUID_B, nullptr, &size, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(bs->LocateHandle(ByProtocol, nullptr, nullptr, &size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs->LocateHandle(ByProtocol, &GUID_A, nullptr, nullptr, nullptr),
            EFI_INVALID_PARAMETER);
}

TEST(FirmwareConsoles, RecordInOrderAndStdErrApart) {
  sim::Firmware fw;
  EFI_SYSTEM_TABLE *st = fw.SystemTable();
  ASSERT_NE(st->StdErr, nullptr);
  CHAR16 command[] = u"UpdateHWOld.nsh";
  EFI_HANDLE image = fw.ImageHandle();
  EXPECT_EQ(st->ConOut->OutputString(st->ConOut, u"one\r\n"), EFI_SUCCESS);
  EXPECT_EQ(fw.ShellProtocol()->Execute(&image, command, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_EQ(st->StdErr->OutputString(st->StdErr, u"err"), EFI_SUCCESS);
  EXPECT_EQ(st->ConOut->OutputString(st->ConOut, u"two"), EFI_SUCCESS);
  ASSERT_EQ(fw.Events().size(), 3u);
  EXPECT_EQ(fw.Events()[0].kind, sim::Event::Console);
  EXPECT_EQ(fw.Events()[1].kind, sim::Event::Execute);
  EXPECT_EQ(fw.Events()[1].text, u"UpdateHWOld.nsh");
  EXPECT_EQ(fw.ConsoleLines(), (std::vector<std::u16string>{u"one\r\n", u"two"}));
  EXPECT_EQ(fw.StdErrLines(), std::vector<std::u16string>{u"err"});

  fw.FailNth(sim::Call::OutputString, 1);
  EXPECT_EQ(st->ConOut->OutputString(st->ConOut, u"lost"), EFI_DEVICE_ERROR);
  EXPECT_EQ(fw.ConsoleLines().size(), 2u);
  EXPECT_EQ(fw.Count(sim::Call::OutputString), 4u);
}

TEST(FirmwareConsoles, StdErrMayBeAbsent) {
  sim::Options options;
  options.with_stderr = false;
  sim::Firmware fw(options);
  EXPECT_EQ(fw.SystemTable()->StdErr, nullptr);
  EXPECT_NE(fw.SystemTable()->ConOut, nullptr);
  EXPECT_NE(fw.SystemTable()->ConIn, nullptr);
}

TEST(FirmwareGlobals, InstalledAndClearedWithTheFirmware) {
  {
    sim::Firmware fw;
    EXPECT_EQ(sim::Firmware::Current(), &fw);
    fw.InstallGlobals();
    EXPECT_EQ(gST, fw.SystemTable());
    EXPECT_EQ(gBS, fw.SystemTable()->BootServices);
    EXPECT_EQ(gRT, fw.SystemTable()->RuntimeServices);
    EXPECT_EQ(gImageHandle, fw.ImageHandle());
    EXPECT_EQ(gST->Hdr.Signature, 0x5453595320494249ULL);
  }
  EXPECT_EQ(sim::Firmware::Current(), nullptr);
  EXPECT_EQ(gST, nullptr);
  EXPECT_EQ(gBS, nullptr);
}

}  // namespace
