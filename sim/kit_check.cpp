// The kit check on the host: the image's entry frame around a main of its
// own that calls the check and tells its outcome as -verify -v would, so
// every line comes from the image's code.
#include "sim/kit_check.h"

#include "app/explain.h"
#include "app/kit_verify.h"
#include "sim/run.h"

namespace sim {
namespace {

void Note(const char16_t *Name, void *) { TellFileNotListed(u"", Name); }

}  // namespace

bool CheckKitFolder(const std::string &dir, KitFolderCheck *check, std::string *error) {
  *check = KitFolderCheck();
  KitCheck kit_check{};
  ImageRun run;
  run.dir = dir;
  run.body = [&kit_check] {
    bool intact = CheckKitFiles(u"", true, Note, nullptr, &kit_check);
    TellKitCheck(&kit_check, u"");
    return intact ? 0 : 1;
  };
  ImageRunResult result;
  if (!RunImage(run, &result, error)) return false;
  for (const Event &event : result.events) {
    if (event.kind != Event::Console) continue;
    std::string line = TextToUtf8(event.text);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
    if (line.rfind("Note: ", 0) == 0) {
      check->notes.push_back(line);
    } else {
      check->line = line;
    }
  }
  check->intact = result.status == EFI_SUCCESS && kit_check.Problem == KitCheckProblem::None;
  check->identity = kit_check.Identity;
  check->files = kit_check.Files;
  if (check->line.empty()) {
    *error = "the check said nothing";
    return false;
  }
  return true;
}

}  // namespace sim
