// Error reporting of the C library subset: the error number with its texts,
// and the last firmware status that the file layer met. The start-up's
// message shows both when the standard descriptors cannot be opened.
//
// The names carry a LIBC_ prefix because a host test may include the host's
// <errno.h> beside this header, and that one defines `errno` and the E*
// names as macros.
#pragma once

#include "platform/efi.h"

namespace libc {

constexpr int LIBC_ENOENT = 2;
constexpr int LIBC_EIO = 5;
constexpr int LIBC_EBADF = 9;
constexpr int LIBC_ENOMEM = 12;
constexpr int LIBC_EACCES = 13;
constexpr int LIBC_ENODEV = 19;
constexpr int LIBC_EINVAL = 22;
constexpr int LIBC_EMFILE = 24;
constexpr int LIBC_EOVERFLOW = 75;

// The error number (the image's `errno`).
extern int ErrorNumber;

// The status of the last firmware call that failed in the file layer, or
// the status a failed open stands for; cleared at the start of every run.
extern EFI_STATUS LastEfiStatus;

// Records a failed firmware call: the status, and the error number it maps
// to (not found, access denied, no memory, bad parameter, else I/O error).
void RecordEfiFailure(EFI_STATUS Status);

// Records a failure that has an error number and stands for Status.
void RecordFailure(int Error, EFI_STATUS Status);

// Records a failure that one of the library's own checks found: Error
// (ENOENT, EACCES, ENOMEM, EINVAL, ENODEV, EMFILE or EBADF) and the status
// it stands for (not found, access denied, out of resources or invalid
// parameter; a device error for any other number).
void RecordCheckFailure(int Error);

}  // namespace libc
