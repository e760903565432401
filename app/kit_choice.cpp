// The kit choice. Several kits serving one machine is a mistake in the
// library, not a choice to make here: any pick could be the wrong model's.
// So is a kit whose keys cannot be read: it might have been this machine's.
#include "app/kit_choice.h"

bool TallyKit(KitTally *Tally, ModelMatch Match) {
  ++Tally->Kits;
  if (Match == ModelMatch::Malformed) ++Tally->Malformed;
  if (Match != ModelMatch::Serves) return false;
  ++Tally->Serving;
  return true;
}

KitOutcome DecideKit(const KitTally *Tally, bool HasModel) {
  if (!HasModel) return KitOutcome::NoProduct;
  if (Tally->Kits == 0) return KitOutcome::NoKitFound;
  if (Tally->Malformed != 0) return KitOutcome::Malformed;
  if (Tally->Serving == 0) return KitOutcome::NoKitServes;
  return Tally->Serving == 1 ? KitOutcome::Chosen : KitOutcome::SeveralServe;
}
