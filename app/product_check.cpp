// The -product check. A kit is made for one model; the version strings of
// two models can look alike ("1.26" on both), so the only safe guard is the
// product name the firmware publishes. Real product names can end in blanks
// that nobody types into UpdateConfig.ini, so trailing blanks and tabs do
// not count; everything else is compared byte for byte.
#include "app/product_check.h"

#include "app/shown_text.h"
#include "libc/string.h"
#include "platform/console.h"
#include "smbios/structure_table.h"

namespace {

constexpr uint8_t kProductNameField = 0x05;

struct Search {
  bool found;
  SmbiosStructurePointer structure;
};

void FindFirstSystemInformation(SmbiosStructurePointer Structure, void *Context) {
  Search *search = static_cast<Search *>(Context);
  if (search->found || Structure.Hdr->Type != SMBIOS_TYPE_SYSTEM_INFORMATION) return;
  search->found = true;
  search->structure = Structure;
}

size_t TrimmedLength(const char *text) {
  size_t n = libc::strlen(text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  return n;
}

}  // namespace

bool CheckProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const UpdateConfig *Config,
                      bool Verbose) {
  char shown_configured[SHOWN_TEXT_SIZE];
  ShowText(Config->WholeProductName, shown_configured);
  Search search = {false, {nullptr}};
  Walk(DeclaredCount, FindFirstSystemInformation, &search);
  if (!search.found) {
    ConsolePrintAscii("ERROR: no product name in SMBIOS; ProductName= \"%a\".\n", shown_configured);
    return false;
  }

  const char *product = GetSmbiosFieldString(search.structure, kProductNameField);
  if (product == nullptr) product = "";
  char shown_product[SHOWN_TEXT_SIZE];
  ShowText(product, shown_product);

  size_t length = TrimmedLength(product);
  bool same = length > 0 && length == TrimmedLength(Config->WholeProductName) &&
              libc::memcmp(product, Config->WholeProductName, length) == 0;
  if (!same) {
    ConsolePrintAscii("ERROR: product \"%a\" is not ProductName= \"%a\".\n", shown_product,
                 shown_configured);
    return false;
  }
  if (Verbose) ConsolePrintAscii("Product \"%a\" matches ProductName=.\n", shown_product);
  return true;
}
