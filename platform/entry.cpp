// The shell-application frame around `main`. The entry sets up the C library
// and the shell access layer, takes the argument list from whichever shell
// started the image, runs `main` in a run-time environment of its own
// (state block, standard descriptors, UTF-8 arguments, return point for an
// abnormal end) and tears everything down again, so that no pool block
// outlives the run, whichever way it ended.
#include "platform/entry.h"

#include "libc/devices.h"
#include "libc/errno.h"
#include "libc/runtime.h"
#include "libc/stdio.h"
#include "libc/stdlib.h"
#include "libc/string.h"
#include "platform/console.h"
#include "platform/efi_protocols.h"
#include "platform/globals.h"
#include "platform/shell_access.h"
#include "platform/utf8.h"

namespace {

// The vector has 64 entries and the one after the last argument must stay
// null, so a longer command line is cut to its first 63 arguments.
constexpr UINTN MAX_ARGUMENTS = libc::ARGUMENT_VECTOR_SIZE - 1;

// Descriptors 0, 1 and 2, each open made only when the one before gave the
// number it should; the message tells why the last open made failed. The
// names ("stdin:", "stdout:", "stderr:") are the device table's own rows.
void OpenStandardDescriptors() {
  int last = libc::OpenDevice(libc::CONSOLE_NAMES[0], libc::ACCESS_READ);
  if (last == 0) last = libc::OpenDevice(libc::CONSOLE_NAMES[1], libc::ACCESS_WRITE);
  if (last == 1) last = libc::OpenDevice(libc::CONSOLE_NAMES[2], libc::ACCESS_WRITE);
  if (last != 2) {
    ConsolePrintAscii("ERROR Initializing Standard IO: %a.\n    %r\n",
                      libc::strerror(libc::ErrorNumber), libc::LastEfiStatus);
  }
}

// Builds the UTF-8 vector in the state block. False when the buffer cannot
// be allocated.
// An argument's UTF-8 form, up to its first surrogate unit and at most 255
// bytes; written to Target when one is given. Returns its length.
size_t ConvertArgument(const CHAR16 *Argument, char *Target) {
  if (Argument == nullptr) return 0;
  return Utf16ToUtf8(Argument, Target, MAX_ARGUMENT_BYTES, true);
}

bool ConvertArguments(libc::RuntimeState *State, UINTN Count, CHAR16 **Argv) {
  size_t total = Count + 1;
  for (UINTN i = 0; i < Count; ++i) total += ConvertArgument(Argv[i], nullptr);
  char *buffer = static_cast<char *>(libc::calloc(1, total));
  if (buffer == nullptr) return false;
  State->ArgumentBuffer = buffer;
  for (UINTN i = 0; i < Count; ++i) {
    size_t length = ConvertArgument(Argv[i], buffer);
    State->Argv[i] = buffer;
    buffer += length + 1;  // the NUL is already there: the buffer came zeroed
  }
  return true;
}

bool GetShellArguments(EFI_HANDLE ImageHandle, UINTN *Argc, CHAR16 ***Argv) {
  void *interface = nullptr;
  if (!EFI_ERROR(OpenInterface(ImageHandle, &EFI_SHELL_PARAMETERS_PROTOCOL_GUID, &interface))) {
    EFI_SHELL_PARAMETERS_PROTOCOL *parameters =
        static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(interface);
    *Argc = parameters->Argc;
    *Argv = parameters->Argv;
    return true;
  }
  if (!EFI_ERROR(OpenInterface(ImageHandle, &LEGACY_SHELL_INTERFACE_PROTOCOL, &interface))) {
    LEGACY_SHELL_INTERFACE *legacy = static_cast<LEGACY_SHELL_INTERFACE *>(interface);
    *Argc = legacy->Argc;
    *Argv = legacy->Argv;
    return true;
  }
  return false;
}

}  // namespace

EFI_STATUS MapExitStatus(int ExitStatus) {
  if (ExitStatus == 1) return EFI_ABORTED;
  return static_cast<EFI_STATUS>(static_cast<INT64>(ExitStatus));
}

EFI_STATUS RunApplication(UINTN Argc, CHAR16 **Argv, ApplicationMain Main) {
  libc::RuntimeState *state =
      static_cast<libc::RuntimeState *>(libc::calloc(1, sizeof(libc::RuntimeState)));
  if (state == nullptr) return EFI_OUT_OF_RESOURCES;
  libc::StartRun(state);
  OpenStandardDescriptors();

  UINTN count = Argv == nullptr ? 0 : Argc;
  if (count > MAX_ARGUMENTS) count = MAX_ARGUMENTS;
  if (ConvertArguments(state, count, Argv)) {
    libc::RunMain(Main, static_cast<int>(count), state->Argv);
  } else {
    state->ExitStatus = 1;
  }

  EFI_STATUS status = MapExitStatus(state->ExitStatus);
  // Close passes over a descriptor that is not open.
  for (int descriptor = libc::DESCRIPTOR_COUNT - 1; descriptor >= 0; --descriptor) {
    libc::Close(descriptor);
  }
  libc::free(state->ArgumentBuffer);
  libc::EndRun();
  libc::free(state);
  return status;
}

EFI_STATUS ShellAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                         ApplicationMain Main) {
  if (SystemTable == nullptr || SystemTable->BootServices == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  libc::CreateConsoleDevices(SystemTable);
  gRT = SystemTable->RuntimeServices;
  ClearShellAccessReferences();
  ShellAccessInit(ImageHandle);
  libc::InstallShellFileDevice();

  UINTN argc = 0;
  CHAR16 **argv = nullptr;
  EFI_STATUS status = static_cast<EFI_STATUS>(-1);  // not started by a shell
  if (GetShellArguments(ImageHandle, &argc, &argv)) status = RunApplication(argc, argv, Main);

  libc::ReleaseDeviceTable();
  ShellAccessShutdown(ImageHandle);
  libc::ReleaseConsoleDevices();
  libc::ReleaseLibraryBuffers();
  return status;
}
