// The error number, the last firmware status, and the texts strerror gives.
// The texts are the conventional ones, so a message reads the same as on
// any other system.
#include "libc/errno.h"

#include "libc/string.h"
#include "platform/natural_align.h"

namespace libc {

int ErrorNumber = 0;
EFI_STATUS LastEfiStatus = EFI_SUCCESS;

void RecordFailure(int Error, EFI_STATUS Status) {
  ErrorNumber = Error;
  LastEfiStatus = Status;
}

namespace {

// Pairs of (error code, error number), the code being the status with bit
// 63 cleared: one byte compares a row, where a 64-bit constant costs ten
// bytes. The first rows map a failed call's status to its number; every row
// gives the status that a number the library sets stands for.
constexpr unsigned char PAIRS[] = {
    EFI_NOT_FOUND & 0xFF,         LIBC_ENOENT, EFI_ACCESS_DENIED & 0xFF,     LIBC_EACCES,
    EFI_OUT_OF_RESOURCES & 0xFF,  LIBC_ENOMEM, EFI_INVALID_PARAMETER & 0xFF, LIBC_EINVAL,
    // Numbers of the library's own checks, which no status maps to.
    EFI_NOT_FOUND & 0xFF,         LIBC_ENODEV, EFI_OUT_OF_RESOURCES & 0xFF,  LIBC_EMFILE,
    EFI_INVALID_PARAMETER & 0xFF, LIBC_EBADF};
constexpr size_t MAPPED_ROWS = 4;

}  // namespace

void RecordEfiFailure(EFI_STATUS Status) {
  int error = LIBC_EIO;
  if ((Status & ~static_cast<EFI_STATUS>(0xFF)) == EFI_ERROR_BIT) {
    for (size_t i = 0; i < 2 * MAPPED_ROWS; i += 2) {
      if (PAIRS[i] == (Status & 0xFF)) error = PAIRS[i + 1];
    }
  }
  RecordFailure(error, Status);
}

void RecordCheckFailure(int Error) {
  EFI_STATUS status = EFI_DEVICE_ERROR;
  for (size_t i = 0; i < sizeof(PAIRS); i += 2) {
    if (PAIRS[i + 1] == Error) status = EFI_ERROR_BIT | PAIRS[i];
  }
  RecordFailure(Error, status);
}

namespace {

// Each text follows its error number (one byte) and ends with its NUL: one
// block of text, where a table of number and pointer costs sixteen bytes a
// row. The last row, 0xFF, ends the search.
constexpr unsigned char END_OF_TEXTS = 0xFF;
static_assert(LIBC_EOVERFLOW < END_OF_TEXTS, "every error number fits its byte");
constexpr char ERROR_TEXTS[] NATURAL_ALIGN(char) =
    "\x00" "Success\0"
    "\x02" "No such file or directory\0"
    "\x05" "Input/output error\0"
    "\x09" "Bad file descriptor\0"
    "\x0C" "Cannot allocate memory\0"
    "\x0D" "Permission denied\0"
    "\x13" "No such device\0"
    "\x16" "Invalid argument\0"
    "\x18" "Too many open files\0"
    "\x4B" "Value too large for defined data type\0"
    // Numbers this library never sets; a fixed text keeps the result static.
    "\xFF" "Unknown error";
static_assert(LIBC_ENOENT == 2 && LIBC_EIO == 5 && LIBC_EBADF == 9 && LIBC_ENOMEM == 12 &&
                  LIBC_EACCES == 13 && LIBC_ENODEV == 19 && LIBC_EINVAL == 22 &&
                  LIBC_EMFILE == 24 && LIBC_EOVERFLOW == 75,
              "the rows carry the numbers errno.h gives");

}  // namespace

const char *strerror(int Error) {
  const char *row = ERROR_TEXTS;
  for (;;) {
    unsigned char number = static_cast<unsigned char>(*row++);
    if (number == Error || number == END_OF_TEXTS) return row;
    while (*row++ != '\0') {
    }
  }
}

}  // namespace libc
