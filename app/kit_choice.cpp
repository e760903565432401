// The kit choice. Several kits serving one machine is a mistake in the
// library, not a choice to make here: any pick could be the wrong model's.
#include "app/kit_choice.h"

#include "app/product_check.h"

bool TallyKit(KitTally *Tally, const char *Product, const char *ProductNames) {
  ++Tally->Kits;
  if (!ProductNameMatches(Product, ProductNames)) return false;
  ++Tally->Serving;
  return true;
}

KitOutcome DecideKit(const KitTally *Tally, bool HasProduct) {
  if (!HasProduct) return KitOutcome::NoProduct;
  if (Tally->Kits == 0) return KitOutcome::NoKitFound;
  if (Tally->Serving == 0) return KitOutcome::NoKitServes;
  return Tally->Serving == 1 ? KitOutcome::Chosen : KitOutcome::SeveralServe;
}
