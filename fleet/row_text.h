// A row's values as texts, the same in every form: a run's status and
// outcome, the kits a machine runs under, the hardware IDs' names.
#pragma once

#include <string>
#include <vector>

#include "fleet/fleet_row.h"

namespace fleet {

// The outcome of a run that ran no update script.
constexpr char NO_SCRIPT[] = "no script";

}  // namespace fleet

namespace fleet {

// A status as the shell's %lasterror% shows it, and as a run record and
// kit-run write it: "0x0", "0x15" (EFI_ABORTED, its error bit left out).
std::string StatusText(EFI_STATUS status);

// A run's scripts as the summaries count them: "UpdateHWOld.nsh",
// "UpdateHWNew.nsh", "no script", or the scripts joined with " + " on a
// machine with more than one BIOS Information structure.
std::string ScriptsOutcome(const RunOutcome &outcome);

// Short text of a run's outcome for the table: the scripts, or "no script",
// and the status when it is not success.
std::string OutcomeText(const RunOutcome &outcome);

// A row's outcome in the table: the one kit's run (with -segments added
// when `segments`), or why there is none ("no kit", "several kits").
std::string RowOutcome(const FleetRow &row, bool segments);

// The kits of a row, as the CSV and the table show them: "a; b".
std::string KitsText(const FleetRow &row);

// "HardwareID-7" and the like, and an ID's text.
std::string HardwareIdName(int index);
std::string HardwareIdText(const HardwareIds &ids, int index);

// `items` joined with `separator` between them.
std::string JoinTexts(const std::vector<std::string> &items, const char *separator);

}  // namespace fleet
