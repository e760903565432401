// The model check: whether a kit serves a machine by the model keys its
// UpdateConfig.ini holds. Pure: the keys' values and the machine's product
// name and hardware IDs in, a verdict out. The image's -product and -kits
// and the fleet report's kit assignment all decide with this function.
#pragma once

#include <stddef.h>

#include "app/hardware_ids.h"

enum class ModelMatch {
  Serves,     // every key the kit holds matches, and it holds at least one
  NotServed,
  Malformed,  // a HardwareIds= entry is no hardware ID: the kit serves nothing
};

struct ModelVerdict {
  ModelMatch Match;
  int Id;  // Serves: the HardwareID-n that matched (the first the list names), or -1
  const char *Entry;  // Malformed: the entry (EntryLength bytes, in the list)
  size_t EntryLength;
};

// ProductNames is the whole ProductName= value and HardwareIdList the whole
// HardwareIds= value, each null when the kit does not hold the key. The
// product name matches by ProductNameMatches; the list names IDs separated
// by '|' or ',', with blanks around an entry and empty entries ignored, and
// matches when any of them is one of the machine's present IDs. A list
// longer than HARDWARE_ID_LIST_LIMIT is malformed at the entry it was cut
// in, and a malformed entry is found whatever the machine, so a kit is
// refused on every machine alike. Product may be null (no product name) and
// Ids null (no IDs).
ModelVerdict CheckModel(const char *ProductNames, const char *HardwareIdList, const char *Product,
                        const HardwareIds *Ids);
