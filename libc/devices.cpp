// Console devices, the shell file device, the device table and the
// descriptor slots. Console output is converted from the library's UTF-8 to
// the firmware's UTF-16 in small chunks on the stack, so a write of any
// length needs no pool memory.
#include "libc/devices.h"

#include "libc/errno.h"
#include "libc/runtime.h"
#include "libc/stdlib.h"
#include "libc/stream_internal.h"
#include "libc/string.h"
#include "platform/utf8.h"

namespace libc {

namespace {

// What opening "stdin:" or "stdout:" initialises: until then output goes
// out as it stands.
struct TerminalSettings {
  bool ExpandLineFeed;  // LF becomes CR LF, as UEFI consoles expect
};


struct ConsoleState {
  Device Devices[CONSOLE_DEVICES];
  TerminalSettings Terminal;
};
// UTF-16 units per OutputString call (room kept for a CR LF pair and the
// NUL): a console stream's buffer of 128 bytes usually goes out in one call.
constexpr size_t CHUNK_UNITS = 160;
constexpr CHAR16 REPLACEMENT = 0xFFFD;

ConsoleState *gConsole = nullptr;
Device *gFileDevice = nullptr;

// Decodes the UTF-8 sequence at Text (Available bytes, at least 1) into one
// UTF-16 unit. Returns the bytes it takes, or 0 when the sequence is cut
// short by the end of the text. Characters beyond the 16-bit range, which
// the console cannot show, and malformed bytes give U+FFFD.
size_t DecodeUtf8(const UINT8 *Text, size_t Available, CHAR16 *Unit) {
  Utf8Char read = ReadUtf8(Text, Available);
  if (read.Length == 0) return 0;
  *Unit = read.Length < 0 || read.Code > 0xFFFF ? REPLACEMENT : static_cast<CHAR16>(read.Code);
  return static_cast<size_t>(read.Length < 0 ? -read.Length : read.Length);
}

bool Output(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, CHAR16 *Chunk, size_t *Units) {
  if (*Units == 0) return true;
  Chunk[*Units] = 0;
  *Units = 0;
  EFI_STATUS status = Console->OutputString(Console, Chunk);
  if (EFI_ERROR(status)) {
    RecordFailure(LIBC_EIO, status);
    return false;
  }
  return true;
}

}  // namespace

bool CreateConsoleDevices(EFI_SYSTEM_TABLE *SystemTable) {
  ReleaseConsoleDevices();
  if (SystemTable == nullptr) return false;
  ConsoleState *state = static_cast<ConsoleState *>(calloc(1, sizeof(ConsoleState)));
  if (state == nullptr) return false;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *error =
      SystemTable->StdErr != nullptr ? SystemTable->StdErr : SystemTable->ConOut;
  state->Devices[0] = {DeviceKind::ConsoleInput, SystemTable->ConIn};
  state->Devices[1] = {DeviceKind::ConsoleOutput, SystemTable->ConOut};
  state->Devices[2] = {DeviceKind::ConsoleOutput, error};
  gConsole = state;
  return true;
}

bool InstallShellFileDevice() {
  if (gFileDevice != nullptr) return true;
  Device *device = static_cast<Device *>(malloc(sizeof(Device)));
  if (device == nullptr) return false;
  *device = {DeviceKind::ShellFile, nullptr};
  gFileDevice = device;
  return true;
}

void ReleaseDeviceTable() {
  free(gFileDevice);
  gFileDevice = nullptr;
}

void ReleaseConsoleDevices() {
  free(gConsole);
  gConsole = nullptr;
}

const Device *ShellFileDevice() { return gFileDevice; }

int FindFreeDescriptor() {
  if (gRuntime == nullptr) {
    RecordCheckFailure(LIBC_EBADF);
    return -1;
  }
  for (int i = 0; i < DESCRIPTOR_COUNT; ++i) {
    if (gRuntime->Descriptors[i].Dev == nullptr) return i;
  }
  RecordCheckFailure(LIBC_EMFILE);
  return -1;
}

int OpenDevice(const char *Name, unsigned Access) {
  int found = -1;
  for (int i = 0; i < CONSOLE_DEVICES && gConsole != nullptr && Name != nullptr; ++i) {
    if (strcmp(CONSOLE_NAMES[i], Name) == 0) found = i;
  }
  if (found < 0 || gConsole->Devices[found].Console == nullptr) {
    RecordCheckFailure(LIBC_ENODEV);
    return -1;
  }
  // Standard input is read; standard output and error are written.
  unsigned allowed = found == 0 ? ACCESS_READ : ACCESS_WRITE;
  if (Access == 0 || (Access & ~allowed) != 0) {
    RecordCheckFailure(LIBC_EACCES);
    return -1;
  }
  int descriptor = FindFreeDescriptor();
  if (descriptor < 0) return -1;
  if (found < 2) gConsole->Terminal.ExpandLineFeed = true;  // stdin: or stdout:
  gRuntime->Descriptors[descriptor] = {&gConsole->Devices[found], nullptr};
  return descriptor;
}

int Close(int Descriptor) {
  if (gRuntime == nullptr || Descriptor < 0 || Descriptor >= DESCRIPTOR_COUNT ||
      gRuntime->Descriptors[Descriptor].Dev == nullptr) {
    ErrorNumber = LIBC_EBADF;
    return -1;
  }
  FILE *stream = gRuntime->Descriptors[Descriptor].Stream;
  gRuntime->Descriptors[Descriptor] = {nullptr, nullptr};
  if (stream != nullptr) return CloseStream(stream) ? 0 : -1;
  return 0;
}

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *OutputConsole(int Descriptor) {
  if (gRuntime == nullptr || Descriptor < 0 || Descriptor >= DESCRIPTOR_COUNT) return nullptr;
  const Device *device = gRuntime->Descriptors[Descriptor].Dev;
  if (device == nullptr || device->Kind != DeviceKind::ConsoleOutput) return nullptr;
  return static_cast<EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *>(device->Console);
}

bool WriteConsole(int Descriptor, const char *Text, size_t Length, size_t *Consumed) {
  *Consumed = 0;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *console = OutputConsole(Descriptor);
  if (console == nullptr) {
    RecordCheckFailure(LIBC_EBADF);
    return false;
  }
  bool expand = gConsole != nullptr && gConsole->Terminal.ExpandLineFeed;
  const UINT8 *bytes = reinterpret_cast<const UINT8 *>(Text);
  CHAR16 chunk[CHUNK_UNITS + 3];
  size_t units = 0;
  size_t at = 0;
  size_t flushed = 0;
  bool written = true;
  while (written && at < Length) {
    CHAR16 unit;
    size_t taken = DecodeUtf8(bytes + at, Length - at, &unit);
    if (taken == 0) break;
    if (unit == u'\n' && expand) chunk[units++] = u'\r';
    chunk[units++] = unit;
    at += taken;
    if (units >= CHUNK_UNITS) {
      written = Output(console, chunk, &units);
      if (written) flushed = at;
    }
  }
  if (written) {
    written = Output(console, chunk, &units);
    if (written) flushed = at;
  }
  *Consumed = flushed;
  return written;
}

}  // namespace libc
