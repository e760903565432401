// The decision the application exists for: the installed BIOS version
// (string 2 of a BIOS Information structure) and the configured version are
// turned into signed 32-bit numbers; a configured number above the installed
// one selects the old-BIOS update script, anything else the new-BIOS one.
#include "app/version_check.h"

#include "platform/console.h"
#include "platform/shell_access.h"
#include "smbios/structure_table.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int32_t ParseVersionNumber(const char *Text) {
  const char *p = Text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+') {
    ++p;
  } else if (*p == '-') {
    negative = true;
    ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  while (*p == '0') ++p;

  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) {
      value = UINT64_MAX;
      break;
    }
    value = value * 10 + digit;
  }
  // Keep the low 32 bits; negation is modulo 2^32 so it cannot overflow.
  uint32_t low = static_cast<uint32_t>(value);
  if (negative) low = 0u - low;
  return static_cast<int32_t>(low);
}

const char16_t *ChooseUpdateScript(int32_t Installed, int32_t Configured) {
  return Configured > Installed ? u"UpdateHWOld.nsh" : u"UpdateHWNew.nsh";
}

bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      EFI_HANDLE *ImageHandleCopy) {
  // A copy of the cursor: looking up a missing string moves it.
  SmbiosStructurePointer cursor = Structure;
  const char *installed_text = GetSmbiosString(&cursor, 2);
  if (installed_text == nullptr) {
    // Taking an unknown version as 0 would run the old-BIOS update.
    ConsolePrint(u"ERROR: BIOS version not found.\n");
    return false;
  }
  int32_t installed = ParseVersionNumber(installed_text);
  int32_t configured = ParseVersionNumber(Config->Version);
  EFI_STATUS script_status = EFI_SUCCESS;
  // The script's own outcome belongs to the script; it is not examined.
  RunShellCommand(ImageHandleCopy, ChooseUpdateScript(installed, configured), &script_status);
  return true;
}
