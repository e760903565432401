// The -v and -n lines. The texts come from firmware and from
// UpdateConfig.ini, so they are quoted through ShowText; the notes name the
// readings that make the integer rule blind on real version strings.
#include "app/explain.h"

#include "app/shown_text.h"
#include "app/version_check.h"
#include "platform/console.h"

namespace {

const char *const kOutcomeTexts[] = {
    "older -> UpdateHWOld.nsh",
    "same -> UpdateHWNew.nsh",
    "newer -> UpdateHWNew.nsh",
};

const char *OutcomeText(VersionOrder order) { return kOutcomeTexts[static_cast<int>(order)]; }

const char *NotRun(bool decide_only) { return decide_only ? " (not run)" : ""; }

void NoteReading(const char *text) {
  char shown[SHOWN_TEXT_SIZE];
  switch (DescribeIntegerReading(text)) {
    case IntegerReading::CountsAsZero:
      ConsolePrintAscii("Note: \"%a\" counts as 0.\n", ShowText(text, shown));
      break;
    case IntegerReading::LeadingNumberOnly:
      ConsolePrintAscii("Note: only the leading number of \"%a\" counts.\n", ShowText(text, shown));
      break;
    case IntegerReading::Whole:
      break;
  }
}

}  // namespace

void ExplainIntegerDecision(SmbiosStructurePointer Structure, const char *Installed,
                            int32_t InstalledNumber, const char *Configured,
                            int32_t ConfiguredNumber, bool DecideOnly) {
  VersionOrder order = ConfiguredNumber > InstalledNumber    ? VersionOrder::Older
                       : ConfiguredNumber == InstalledNumber ? VersionOrder::Same
                                                             : VersionOrder::Newer;
  char shown_installed[SHOWN_TEXT_SIZE];
  char shown_configured[SHOWN_TEXT_SIZE];
  ConsolePrintAscii("Installed \"%a\" (%d), configured \"%a\" (%d), integer rule: %a%a\n",
                    ShowText(Installed, shown_installed), InstalledNumber,
                    ShowText(Configured, shown_configured), ConfiguredNumber, OutcomeText(order),
                    NotRun(DecideOnly));
  NoteReading(Installed);
  NoteReading(Configured);
  // Firmware that keeps its version elsewhere says so in the BIOS Version
  // field; the integer rule reads string 2 all the same.
  uint8_t field = 0;
  GetBiosVersionFieldString(Structure, &field);
  if (Structure.Hdr->Length > BIOS_VERSION_FIELD_OFFSET && field != 2) {
    ConsolePrintAscii("Note: the BIOS Version field names string %d, not string 2.\n", field);
  }
}

void ExplainSegmentDecision(const char *Installed, const char *Configured, VersionOrder Order,
                            bool DecideOnly) {
  char shown_installed[SHOWN_TEXT_SIZE];
  char shown_configured[SHOWN_TEXT_SIZE];
  ConsolePrintAscii("Installed \"%a\", configured \"%a\", segment rule: %a%a\n",
                    ShowText(Installed, shown_installed), ShowText(Configured, shown_configured),
                    OutcomeText(Order), NotRun(DecideOnly));
}
