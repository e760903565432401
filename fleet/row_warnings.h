// The report's warnings: every kind it gives, with what it means, and the
// sentences that say, for one machine, where its decision cannot be
// trusted. The sentences quote texts from the data as the image's own
// messages quote them.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "fleet/fleet_row.h"
#include "fleet/machine_facts.h"

namespace fleet {

// Every warning the report gives: its key and what it means, for the
// report's summary and the page, in the order they list them.
struct WarningKind {
  const char *key;
  const char *meaning;
};
extern const WarningKind WARNING_KINDS[];
extern const size_t WARNING_KIND_COUNT;
// A key's meaning; empty for a key that is none of those.
const char *WarningMeaning(const std::string &key);

// Adds a warning to the row, unless it holds the same one already.
void AddWarning(FleetRow *row, const char *key, const std::string &sentence);

// What the machine's data (the row's facts, whole) says whatever the kit:
// the entry point, the integer rule's reading of string 2, the walk.
void AddDataWarnings(const RunOptions &options, FleetRow *row);

// What the runs under one kit say. `which` names the kit in the sentences
// when the machine runs under several (" under FOLDER"), else is empty.
void AddKitWarnings(const KitInfo &kit, const KitRuns &runs, const std::string &which,
                    FleetRow *row);

// Which kits serve the machine, when that is not plainly one kit made for it.
void AddKitChoiceWarnings(const FleetSettings &settings, FleetRow *row);

// A machine whose data names no processor, on a medium whose x64 and
// AArch64 lines decide differently for it (`which` as above).
void AddArchLinesWarning(const std::string &which, const RunOutcome &x64, const RunOutcome &aarch64,
                         FleetRow *row);

// A row's warnings: their sentences, their keys, and each key once in
// order of appearance (the table's cell and the summary count machines,
// not structures).
std::vector<std::string> WarningSentences(const FleetRow &row);
std::vector<std::string> WarningKeys(const FleetRow &row);
std::vector<std::string> DistinctWarningKeys(const FleetRow &row);

}  // namespace fleet
