// The product rule. A kit is made for one model; the version strings of
// two models can look alike ("1.26" on both), so the only safe guard is the
// product name the firmware publishes. Real product names can end in blanks
// that nobody types into UpdateConfig.ini, so trailing blanks and tabs do
// not count; everything else is compared byte for byte. One model often
// ships as several machine types that share a prefix ("20L5CTO1WW",
// "20L5S0CD00"), hence the list and the trailing '*'.
#include "app/product_check.h"

#include "app/char_class.h"
#include "libc/string.h"

namespace {

// Whether Product (ProductLength bytes, trailing blanks gone) is the listed
// name Name (NameLength bytes, up to its '|' or the end).
bool MatchesName(const char *Product, size_t ProductLength, const char *Name, size_t NameLength) {
  while (NameLength > 0 && IsBlank(Name[NameLength - 1])) --NameLength;
  bool prefix = NameLength > 0 && Name[NameLength - 1] == '*';
  if (prefix) --NameLength;
  // An empty name, or a lone '*', would take every model: a kit listing it
  // by mistake would flash the whole fleet, so it takes none.
  if (NameLength == 0) return false;
  if (prefix ? ProductLength < NameLength : ProductLength != NameLength) return false;
  return libc::memcmp(Product, Name, NameLength) == 0;
}

}  // namespace

bool ProductNameMatches(const char *Product, const char *Names) {
  size_t length = libc::strlen(Product);
  while (length > 0 && IsBlank(Product[length - 1])) --length;
  if (length == 0) return false;
  for (const char *name = Names;; ) {
    size_t name_length = libc::strcspn(name, "|");
    if (MatchesName(Product, length, name, name_length)) return true;
    if (name[name_length] == '\0') return false;
    name += name_length + 1;
  }
}
