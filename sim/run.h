// The one sequence every host runner goes through (the preview tool, the
// benchmark, the fleet report): make a simulated firmware, publish SMBIOS
// data, add files, run the image's entry frame around the application, and
// collect what it did. Keeping it in one place is what makes their outcomes
// comparable: a fleet row and a preview of the same dump are the same run.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/entry.h"
#include "sim/firmware.h"

namespace sim {

struct ImageRun {
  ShellKind shell = ShellKind::Uefi2;
  std::vector<std::string> args;  // the application's arguments after its own name
  std::string dir;                // host folder behind the shell's current directory; empty: none
  std::string kits_dir;           // host folder served as the root's folder kits; empty: none
  std::vector<std::pair<std::string, std::string>> files;  // in-memory files: name, bytes
  bool writable = false;  // the volume takes writes (into memory), as a USB stick does
  const std::vector<uint8_t> *smbios = nullptr;  // dump layout; null: no SMBIOS published
  ApplicationMain main = nullptr;                // null: the application's own main
  // A host body run in main's place, inside the same entry frame (it may
  // call the image's own functions and hand their results back through
  // what it captures); it takes precedence over main.
  std::function<int()> body;
  // What enters the image frame; null: ShellAppEntry. The benchmark passes
  // a function of its own so the instruction counter can find the run.
  EFI_STATUS (*enter)(Firmware *firmware, ApplicationMain main) = nullptr;
  // Called with the firmware after the run, before it goes away (call
  // counts, pool figures, the tables it published).
  std::function<void(Firmware &firmware)> after;
};

struct ImageRunResult {
  std::vector<Event> events;
  EFI_STATUS status = EFI_SUCCESS;
};

// UTF-16 text from the firmware's records as UTF-8 (a lone surrogate as
// U+FFFD).
std::string TextToUtf8(const std::u16string &text);

// False, with a one-line reason, when the SMBIOS data cannot be published
// (the application does not run then). Call counts cover the run alone.
bool RunImage(const ImageRun &run, ImageRunResult *result, std::string *error);

}  // namespace sim
