// The error number, the last firmware status, and the texts strerror gives.
// The texts are the conventional ones, so a message reads the same as on
// any other system.
#include "libc/errno.h"

#include "libc/string.h"

namespace libc {

int ErrorNumber = 0;
EFI_STATUS LastEfiStatus = EFI_SUCCESS;

void RecordFailure(int Error, EFI_STATUS Status) {
  ErrorNumber = Error;
  LastEfiStatus = Status;
}

void RecordEfiFailure(EFI_STATUS Status) {
  int error = LIBC_EIO;
  if (Status == EFI_NOT_FOUND) {
    error = LIBC_ENOENT;
  } else if (Status == EFI_ACCESS_DENIED) {
    error = LIBC_EACCES;
  } else if (Status == EFI_OUT_OF_RESOURCES) {
    error = LIBC_ENOMEM;
  } else if (Status == EFI_INVALID_PARAMETER) {
    error = LIBC_EINVAL;
  }
  RecordFailure(error, Status);
}

namespace {

struct ErrorText {
  int Error;
  const char *Text;
};

const ErrorText kErrorTexts[] = {
    {0, "Success"},
    {LIBC_ENOENT, "No such file or directory"},
    {LIBC_EIO, "Input/output error"},
    {LIBC_EBADF, "Bad file descriptor"},
    {LIBC_ENOMEM, "Cannot allocate memory"},
    {LIBC_EACCES, "Permission denied"},
    {LIBC_ENODEV, "No such device"},
    {LIBC_EINVAL, "Invalid argument"},
    {LIBC_EMFILE, "Too many open files"},
    {LIBC_EOVERFLOW, "Value too large for defined data type"},
};

}  // namespace

const char *strerror(int Error) {
  for (const ErrorText &entry : kErrorTexts) {
    if (entry.Error == Error) return entry.Text;
  }
  // Numbers this library never sets; a fixed text keeps the result static.
  return "Unknown error";
}

}  // namespace libc
