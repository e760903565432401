// The decision the application exists for. The plain rule turns the
// installed BIOS version (string 2 of a BIOS Information structure) and the
// configured version into signed 32-bit numbers; a configured number above
// the installed one selects the old-BIOS update script, anything else the
// new-BIOS one. The segment rule (-segments) compares whole version strings
// instead and refuses to guess when they follow different schemes.
#include "app/version_check.h"

#include "app/explain.h"
#include "app/version_segments.h"
#include "platform/console.h"
#include "platform/shell_access.h"
#include "smbios/structure_table.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The integer rule's reading of Text: the low 32 bits of the number in
// *Low, whether any digit (a skipped leading zero included) was read, and
// where the reading stopped.
const char *ScanVersionNumber(const char *Text, uint32_t *Low, bool *ReadDigits) {
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
  const char *digits = p;
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
  *Low = static_cast<uint32_t>(value);
  if (negative) *Low = 0u - *Low;
  *ReadDigits = p != digits;
  return p;
}

bool DecideByInteger(SmbiosStructurePointer structure, const UpdateConfig *config,
                     const RunOptions *options, const char16_t **script) {
  // A copy of the cursor: looking up a missing string moves it.
  SmbiosStructurePointer cursor = structure;
  const char *installed_text = GetSmbiosString(&cursor, 2);
  if (installed_text == nullptr) {
    // Taking an unknown version as 0 would run the old-BIOS update.
    ConsolePrint(u"ERROR: BIOS version not found.\n");
    return false;
  }
  int32_t installed = ParseVersionNumber(installed_text);
  int32_t configured = ParseVersionNumber(config->Version);
  *script = ChooseUpdateScript(installed, configured);
  if (options->Verbose) {
    ExplainIntegerDecision(structure, installed_text, installed, config->Version, configured,
                           options->DecideOnly);
  }
  return true;
}

}  // namespace

int32_t ParseVersionNumber(const char *Text) {
  uint32_t low = 0;
  bool read_digits = false;
  ScanVersionNumber(Text, &low, &read_digits);
  return static_cast<int32_t>(low);
}

IntegerReading DescribeIntegerReading(const char *Text) {
  uint32_t low = 0;
  bool read_digits = false;
  const char *rest = ScanVersionNumber(Text, &low, &read_digits);
  for (const char *p = read_digits ? rest : Text; *p != '\0'; ++p) {
    if (!IsSpace(*p)) {
      return read_digits ? IntegerReading::LeadingNumberOnly : IntegerReading::CountsAsZero;
    }
  }
  return IntegerReading::Whole;
}

const char *GetBiosVersionFieldString(SmbiosStructurePointer Structure, uint8_t *FieldNumber) {
  bool held = Structure.Hdr->Length > BIOS_VERSION_FIELD_OFFSET;
  *FieldNumber = held ? Structure.Raw[BIOS_VERSION_FIELD_OFFSET] : 0;
  return GetSmbiosFieldString(Structure, BIOS_VERSION_FIELD_OFFSET);
}

const char16_t *ChooseUpdateScript(int32_t Installed, int32_t Configured) {
  return Configured > Installed ? u"UpdateHWOld.nsh" : u"UpdateHWNew.nsh";
}

bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, EFI_HANDLE *ImageHandleCopy) {
  const char16_t *script = nullptr;
  bool decided = Options->Segments ? DecideBySegments(Structure, Config, Options, &script)
                                   : DecideByInteger(Structure, Config, Options, &script);
  if (!decided) return false;
  if (Options->DecideOnly) return true;
  EFI_STATUS script_status = EFI_SUCCESS;
  // The script's own outcome belongs to the script; it is not examined.
  RunShellCommand(ImageHandleCopy, script, &script_status);
  return true;
}
