// The kit choice: which kits of a library serve a machine, by the product
// rule, and what that means for the run. Pure: texts in, an outcome out.
// The image and the fleet report count kits with these same functions.
#pragma once

struct KitTally {
  unsigned Kits;     // kits counted
  unsigned Serving;  // of those, the ones whose ProductName= lists the product
};

// Counts one kit; true when its whole ProductName= value lists Product.
bool TallyKit(KitTally *Tally, const char *Product, const char *ProductNames);

enum class KitOutcome {
  Chosen,        // exactly one kit serves the product
  NoProduct,     // the machine names no product
  NoKitFound,    // the library holds no kit
  NoKitServes,
  SeveralServe,
};

KitOutcome DecideKit(const KitTally *Tally, bool HasProduct);
