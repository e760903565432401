// The kit choice: which kits of a library serve a machine, by the model
// check, and what that means for the run. Pure: verdicts in, an outcome out.
// The image and the fleet report count kits with these same functions.
#pragma once

#include "app/model_check.h"

struct KitTally {
  unsigned Kits;       // kits counted
  unsigned Serving;    // of those, the ones that serve the machine
  unsigned Malformed;  // of those, the ones whose HardwareIds= is malformed
};

// Counts one kit by its verdict; true when it serves the machine.
bool TallyKit(KitTally *Tally, ModelMatch Match);

enum class KitOutcome {
  Chosen,        // exactly one kit serves the machine
  NoProduct,     // the machine names no model: no product name and no ID
  NoKitFound,    // the library holds no kit
  Malformed,     // a kit's HardwareIds= is malformed: it might have been this machine's
  NoKitServes,
  SeveralServe,
};

KitOutcome DecideKit(const KitTally *Tally, bool HasModel);
