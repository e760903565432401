// The host runners' shared sequence around one run of the application.
#include "sim/run.h"

#include "app/main.h"
#include "sim/internal.h"

namespace sim {
namespace {

// The body of the run in progress: the entry frame takes a plain function,
// so a body with captures is reached through this one.
const std::function<int()> *gBody = nullptr;

int RunBody(int, char **) { return (*gBody)(); }

}  // namespace

std::string TextToUtf8(const std::u16string &text) { return ToUtf8(text); }

bool RunImage(const ImageRun &run, ImageRunResult *result, std::string *error) {
  Options options;
  options.shell = run.shell;
  options.dir = run.dir;
  options.kits_dir = run.kits_dir;
  options.writable = run.writable;
  for (const std::string &arg : run.args) options.args.push_back(ToUtf16(arg));

  Firmware firmware(options);
  if (run.smbios != nullptr && !firmware.PublishSmbiosDump(*run.smbios, error)) return false;
  for (const auto &file : run.files) firmware.AddFile(file.first, file.second);
  firmware.ResetCounts();

  ApplicationMain main = run.body ? RunBody : run.main != nullptr ? run.main : app::main;
  gBody = &run.body;
  result->status = run.enter != nullptr
                       ? run.enter(&firmware, main)
                       : ShellAppEntry(firmware.ImageHandle(), firmware.SystemTable(), main);
  gBody = nullptr;
  result->events = firmware.Events();
  if (run.after) run.after(firmware);
  return true;
}

}  // namespace sim
