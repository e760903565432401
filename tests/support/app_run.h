// Running the application on a simulated firmware a test has set up (its
// tables, files and faults), and what the run did in the terms the app
// tests compare: the scripts the shell ran ("folder: command") and the
// console lines without their CR LF.
#pragma once

#include <string>
#include <vector>

#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "sim/run.h"

namespace testsupport {

struct AppRun {
  EFI_STATUS status = EFI_SUCCESS;
  std::vector<std::string> scripts;
  std::vector<std::string> console;
};

inline AppRun RunApp(sim::Firmware &fw) {
  AppRun run;
  run.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  for (const sim::Event &event : fw.Events()) {
    if (event.kind == sim::Event::Execute) {
      run.scripts.push_back(sim::TextToUtf8(event.folder) + ": " + sim::TextToUtf8(event.text));
    }
  }
  for (const std::u16string &line : fw.ConsoleLines()) {
    std::string text = sim::TextToUtf8(line);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    run.console.push_back(text);
  }
  return run;
}

}  // namespace testsupport
