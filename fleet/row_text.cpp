// A row's values as texts.
#include "fleet/row_text.h"

#include <cstdio>

namespace fleet {

std::string StatusText(EFI_STATUS status) {
  // The shell's %lasterror% drops the top bit that marks an error: 0x15,
  // not 0x8000000000000015.
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX",
                static_cast<unsigned long long>(status & ~EFI_ERROR_BIT));
  return text;
}

std::string ScriptsOutcome(const RunOutcome &outcome) {
  std::string text;
  for (const std::string &script : outcome.scripts) text += (text.empty() ? "" : " + ") + script;
  return text.empty() ? NO_SCRIPT : text;
}

std::string OutcomeText(const RunOutcome &outcome) {
  std::string text = ScriptsOutcome(outcome);
  if (outcome.status == EFI_ABORTED) {
    text += ", aborted";
  } else if (outcome.status != EFI_SUCCESS) {
    text += ", status " + StatusText(outcome.status);
  }
  return text;
}

std::string RowOutcome(const FleetRow &row, bool segments) {
  if (row.kits.empty()) return "no kit";
  if (row.kits.size() > 1) return "several kits";
  return OutcomeText(segments ? row.segments : row.run);
}

std::string KitsText(const FleetRow &row) {
  std::vector<std::string> kits;
  for (const KitRuns &runs : row.kits) kits.push_back(runs.kit);
  return JoinTexts(kits, "; ");
}

std::string HardwareIdName(int index) { return "HardwareID-" + std::to_string(index); }

std::string HardwareIdText(const HardwareIds &ids, int index) {
  char text[HARDWARE_ID_TEXT_SIZE];
  FormatHardwareId(ids.Id[index], text);
  return text;
}

std::string JoinTexts(const std::vector<std::string> &items, const char *separator) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i ? separator : "") + items[i];
  return text;
}

}  // namespace fleet
