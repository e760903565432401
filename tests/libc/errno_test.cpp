// The error number a failed firmware call leaves, for every status the file
// layer maps and for statuses that only resemble them; and the status each
// number of the library's own checks stands for.
#include <gtest/gtest.h>

#include "libc/errno.h"

namespace {

TEST(Errno, FirmwareStatusesMapToTheirErrorNumbers) {
  struct Case {
    EFI_STATUS status;
    int error;
  };
  const Case cases[] = {
      {EFI_NOT_FOUND, libc::LIBC_ENOENT},
      {EFI_ACCESS_DENIED, libc::LIBC_EACCES},
      {EFI_OUT_OF_RESOURCES, libc::LIBC_ENOMEM},
      {EFI_INVALID_PARAMETER, libc::LIBC_EINVAL},
      {EFI_DEVICE_ERROR, libc::LIBC_EIO},
      {EFI_UNSUPPORTED, libc::LIBC_EIO},
      // The codes of the mapped errors, but as warnings or with more bits set.
      {EFI_NOT_FOUND & ~EFI_ERROR_BIT, libc::LIBC_EIO},
      {EFI_ACCESS_DENIED | 0x100, libc::LIBC_EIO},
      {EFI_INVALID_PARAMETER | 0x4000000000000000ULL, libc::LIBC_EIO},
      {EFI_SUCCESS, libc::LIBC_EIO},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.status);
    libc::RecordFailure(0, EFI_SUCCESS);
    libc::RecordEfiFailure(c.status);
    EXPECT_EQ(libc::ErrorNumber, c.error);
    EXPECT_EQ(libc::LastEfiStatus, c.status);
  }
}

// A number the library's own checks set, with the status it stands for.
TEST(Errno, CheckFailuresCarryTheStatusTheirNumberStandsFor) {
  struct Case {
    int error;
    EFI_STATUS status;
  };
  const Case cases[] = {
      {libc::LIBC_ENOENT, EFI_NOT_FOUND},         {libc::LIBC_EACCES, EFI_ACCESS_DENIED},
      {libc::LIBC_ENOMEM, EFI_OUT_OF_RESOURCES},  {libc::LIBC_EINVAL, EFI_INVALID_PARAMETER},
      {libc::LIBC_ENODEV, EFI_NOT_FOUND},         {libc::LIBC_EMFILE, EFI_OUT_OF_RESOURCES},
      {libc::LIBC_EBADF, EFI_INVALID_PARAMETER},  {libc::LIBC_EOVERFLOW, EFI_DEVICE_ERROR},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.error);
    libc::RecordFailure(0, EFI_SUCCESS);
    libc::RecordCheckFailure(c.error);
    EXPECT_EQ(libc::ErrorNumber, c.error);
    EXPECT_EQ(libc::LastEfiStatus, c.status);
  }
}

}  // namespace
