// The runner's leftover check: a simulated firmware that goes away with a
// pool block or an open file fails the test that made it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "sim/firmware.h"

namespace {

void LeaveABlock() {
  sim::Firmware fw;
  void *block = nullptr;
  fw.SystemTable()->BootServices->AllocatePool(EfiBootServicesData, 8, &block);
}

void LeaveAFileOpen() {
  sim::Firmware fw;
  fw.AddFile("a.txt", "1");
  SHELL_FILE_HANDLE file = nullptr;
  fw.ShellProtocol()->OpenFileByName(u"a.txt", &file, EFI_FILE_MODE_READ);
}

void LeaveABlockOnPurpose() {
  sim::Firmware fw;
  fw.AllowLeftovers();
  void *block = nullptr;
  fw.SystemTable()->BootServices->AllocatePool(EfiBootServicesData, 8, &block);
}

TEST(LeftoverCheck, BlocksAndFilesLeftBehindFailTheTest) {
  EXPECT_NONFATAL_FAILURE(LeaveABlock(), "1 pool block(s) left, 8 bytes");
  EXPECT_NONFATAL_FAILURE(LeaveAFileOpen(), "1 file handle(s) left open");
  LeaveABlockOnPurpose();
}

}  // namespace
