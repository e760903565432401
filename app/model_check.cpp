// The model check. A kit keyed by both a product name and hardware IDs
// serves only machines that match both: each key narrows, none widens, so
// adding a key to a kit can never send it to another model.
#include "app/model_check.h"

#include "app/char_class.h"
#include "app/product_check.h"
#include "libc/string.h"

ModelVerdict CheckModel(const char *ProductNames, const char *HardwareIdList, const char *Product,
                        const HardwareIds *Ids) {
  int matched = -1;
  if (HardwareIdList != nullptr) {
    for (const char *entry = HardwareIdList;;) {
      size_t length = libc::strcspn(entry, "|,");
      const char *end = entry + length;
      while (length > 0 && IsBlank(*entry)) ++entry, --length;
      while (length > 0 && IsBlank(entry[length - 1])) --length;
      uint8_t id[HARDWARE_ID_SIZE];
      bool cut = static_cast<size_t>(end - HardwareIdList) > HARDWARE_ID_LIST_LIMIT;
      if (cut || (length > 0 && !ParseHardwareId(entry, length, id))) {
        return ModelVerdict{ModelMatch::Malformed, -1, entry, length};
      }
      for (int i = 0; length > 0 && Ids != nullptr && i < HARDWARE_ID_COUNT; ++i) {
        if (matched < 0 && Ids->Present[i] &&
            libc::memcmp(Ids->Id[i], id, HARDWARE_ID_SIZE) == 0) {
          matched = i;
        }
      }
      if (*end == '\0') break;
      entry = end + 1;
    }
  }
  // Each key the kit holds must match; a kit with neither names no model
  // and serves none.
  bool serves = (HardwareIdList == nullptr || matched >= 0) &&
                (ProductNames == nullptr ||
                 ProductNameMatches(Product != nullptr ? Product : "", ProductNames)) &&
                (ProductNames != nullptr || HardwareIdList != nullptr);
  return ModelVerdict{serves ? ModelMatch::Serves : ModelMatch::NotServed, matched, nullptr, 0};
}
