// The library's devices and descriptors. Three console devices, "stdin:",
// "stdout:" and "stderr:", stand for the system table's consoles; the shell
// file device opens every other name through the shell access layer. Each
// is there from its set-up to its tear-down; descriptors live in the
// run-time state block and each open takes the lowest free number.
#pragma once

#include <stddef.h>

#include "platform/efi.h"
#include "platform/natural_align.h"

namespace libc {

struct FILE;

enum class DeviceKind : UINT8 { ConsoleInput, ConsoleOutput, ShellFile };

// Access an open asks for, and a device allows: console output is written,
// console input and files are read.
constexpr unsigned ACCESS_READ = 1;
constexpr unsigned ACCESS_WRITE = 2;

constexpr int CONSOLE_DEVICES = 3;
// The console devices' names, in the order of their devices (and of the
// standard descriptors), each in a row of 8 bytes: one block of text, where
// names kept in each device would cost a pointer and its store apiece, and
// a row is found without walking the ones before it. The run's start-up
// opens the standard descriptors by these rows, so the image holds each
// name once.
constexpr size_t NAME_ROOM = 8;
inline constexpr char CONSOLE_NAMES[][NAME_ROOM] NATURAL_ALIGN(char) = {"stdin:", "stdout:",
                                                                       "stderr:"};

struct Device {
  DeviceKind Kind;
  void *Console;  // the bound console protocol; null when the firmware has none
};

// Library set-up: the three console devices bound to ConIn, ConOut and
// StdErr (ConOut when the system table has no StdErr). False when their
// memory cannot be allocated; the consoles then cannot be opened.
bool CreateConsoleDevices(EFI_SYSTEM_TABLE *SystemTable);
// Library set-up: the shell file device, through which fopen opens names.
// False when its memory cannot be allocated.
bool InstallShellFileDevice();
// Library tear-down, in this order: the shell file device, then the
// console devices.
void ReleaseDeviceTable();
void ReleaseConsoleDevices();

// The shell file device, or null when it is not installed.
const Device *ShellFileDevice();

// Opens a console device by name with the given access; opening "stdin:"
// or "stdout:" initialises the console's terminal settings. Returns the
// lowest free descriptor, or -1 with the error number and the last status
// set (no run, no such device, access not allowed, no free descriptor).
int OpenDevice(const char *Name, unsigned Access);

// The lowest free descriptor in the current run, or -1 (EMFILE when the
// run has none free, EBADF outside a run).
int FindFreeDescriptor();

// Closes a descriptor; a descriptor of the shell file device closes its
// stream. Closing a free or invalid number does nothing and returns -1.
int Close(int Descriptor);

// The console protocol behind an open output descriptor, or null.
EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *OutputConsole(int Descriptor);

// Writes UTF-8 text to an open console output descriptor as UTF-16, LF as
// CR LF once the terminal settings are initialised; malformed bytes show
// as U+FFFD. Only whole characters are consumed: a sequence cut short at
// the end of Text is left for the next call. *Consumed receives the bytes
// written; false (error number and last status set) when the descriptor is
// no console output or OutputString fails.
bool WriteConsole(int Descriptor, const char *Text, size_t Length, size_t *Consumed);

}  // namespace libc
