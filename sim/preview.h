// The preview tool's work, kept out of its main() so tests can reach it:
// reading its command line, running the application's real entry point on
// the simulated firmware, and printing what happened one line per event.
//
//   bios-update-select-preview [--smbios FILE|FOLDER] [--dir DIR]
//                              [--legacy-shell | --no-shell] [--] [ARG...]
//   bios-update-select-preview --check-kit DIR
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "sim/firmware.h"

namespace sim {

struct PreviewOptions {
  std::string smbios_path;  // empty: the configuration table has no SMBIOS entry
  std::string dir;          // the shell's current directory; empty: the working directory
  ShellKind shell = ShellKind::Uefi2;
  std::vector<std::string> args;  // the application's arguments after its own name
  bool help = false;
  std::string check_kit;  // --check-kit DIR: the kit's files against its SHA256SUMS, nothing run
};

// Exit codes: the image succeeded, it returned another status, the tool
// could not run.
constexpr int PREVIEW_SUCCESS = 0;
constexpr int PREVIEW_FAILURE_STATUS = 1;
constexpr int PREVIEW_CANNOT_RUN = 2;

// `arguments` excludes the tool's own name. Options come first; the first
// argument that is not an option, or everything after "--", is an ARG.
bool ParsePreviewArguments(const std::vector<std::string> &arguments, PreviewOptions *options,
                           std::string *error);
const char *PreviewUsage();

// UTF-16 text as UTF-8 on one line: '\' as "\\", CR as "\r", LF as "\n",
// other code units below 0x20 as "\xHH", a lone surrogate as "\uHHHH".
std::string EscapeText(const std::u16string &text);
// "console: TEXT" or "execute: COMMAND".
std::string FormatEvent(const Event &event);
// "status: 0x" and 16 upper-case hex digits.
std::string FormatStatus(EFI_STATUS status);

// Runs the application once as the options say; prints the event lines and
// the status line on `out`, a one-line reason on `err` when it cannot run.
// Returns the exit code.
int RunPreview(const PreviewOptions &options, std::ostream &out, std::ostream &err);

}  // namespace sim
