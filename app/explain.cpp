// The lines of the decision. The texts come from firmware and from
// UpdateConfig.ini, so they are quoted through ShowText; the notes name the
// readings that make the integer rule blind on real version strings.
#include "app/explain.h"

#include "app/file_names.h"
#include "app/shown_text.h"
#include "platform/console.h"
#include "platform/image_inline.h"
#include "platform/natural_align.h"

namespace {

// In the order of VersionOrder.
const char OUTCOME_TEXTS[] NATURAL_ALIGN(char) =
    "older -> " UPDATE_SCRIPT_OLD_NAME "\0same -> " UPDATE_SCRIPT_NEW_NAME
    "\0newer -> " UPDATE_SCRIPT_NEW_NAME;

IMAGE_INLINE const char *OutcomeText(VersionOrder order) {
  return NthText(OUTCOME_TEXTS, static_cast<UINTN>(order));
}

// The end of every line that refuses the whole library.
const char *const NO_KIT_CHOSEN = "; no kit can be chosen";

const char *NotRun(bool decide_only) { return decide_only ? " (not run)" : ""; }

void NoteReading(const char *text, IntegerReading reading) {
  if (reading == IntegerReading::Whole) return;
  // The notes in the order of IntegerReading, after Whole.
  static const char NOTES[] NATURAL_ALIGN(char) =
      "Note: \"%a\" counts as 0.\n\0"
      "Note: only the leading number of \"%a\" counts.\n";
  static_assert(int(IntegerReading::CountsAsZero) + 1 == int(IntegerReading::LeadingNumberOnly),
                "one note for each reading");
  PrintShown(NthText(NOTES, static_cast<UINTN>(reading) -
                                static_cast<UINTN>(IntegerReading::CountsAsZero)),
             text);
}

}  // namespace

void PrintShown(const char *Format, const char *A, const char *B, const char *C,
                const char *More) {
  const char *texts[3] = {A, B, C};
  char shown[3][SHOWN_TEXT_SIZE];
  // A null text is shown as no bytes at all: "".
  for (int i = 0; i < 3; ++i) {
    texts[i] = ShowTextPart(texts[i], texts[i] != nullptr ? static_cast<size_t>(-1) : 0, shown[i]);
  }
  ConsolePrintAscii(Format, texts[0], texts[1], texts[2], More);
}

void ExplainIntegerDecision(const char *Installed, const char *Configured,
                            const IntegerDecision *Decision, IntegerReading InstalledReading,
                            IntegerReading ConfiguredReading, BiosVersionField Field,
                            bool DecideOnly) {
  char shown_installed[SHOWN_TEXT_SIZE];
  char shown_configured[SHOWN_TEXT_SIZE];
  ConsolePrintAscii("Installed \"%a\" (%d), configured \"%a\" (%d), integer rule: %a%a\n",
                    ShowText(Installed, shown_installed), Decision->InstalledNumber,
                    ShowText(Configured, shown_configured), Decision->ConfiguredNumber,
                    OutcomeText(Decision->Order), NotRun(DecideOnly));
  NoteReading(Installed, InstalledReading);
  NoteReading(Configured, ConfiguredReading);
  // Firmware that keeps its version elsewhere says so in the BIOS Version
  // field; the integer rule reads string 2 all the same.
  if (Field.Held && Field.Number != 2) {
    ConsolePrintAscii("Note: the BIOS Version field names string %d, not string 2.\n",
                      Field.Number);
  }
}

void ExplainSegmentDecision(const char *Installed, const char *Configured, VersionOrder Order,
                            bool DecideOnly) {
  PrintShown("Installed \"%a\", configured \"%a\", segment rule: %a%a\n", Installed, Configured,
             OutcomeText(Order), NotRun(DecideOnly));
}

void TellBiosVersionNotFound() { ConsolePrintAscii("ERROR: BIOS version not found.\n"); }

void TellVersionsNotComparable(const char *Installed, const char *Configured) {
  PrintShown("ERROR: installed \"%a\" and configured \"%a\" cannot be compared.\n", Installed,
             Configured);
}

void TellNoProductName(const char *Names) {
  PrintShown("ERROR: no product name in SMBIOS; ProductName= \"%a\".\n", Names);
}

void TellProductNotListed(const char *Product, const char *Names) {
  PrintShown("ERROR: product \"%a\" is not ProductName= \"%a\".\n", Product, Names);
}

void TellProductMatches(const char *Product) {
  PrintShown("Product \"%a\" matches ProductName=.\n", Product);
}

void TellScriptNotRun(const char16_t *Script, EFI_STATUS Status) {
  ConsolePrintAscii("Note: the shell could not run %s: %r.\n", Script, Status);
}

void TellKitChosen(const char16_t *Path, const char *Names, const char *Product) {
  char shown_names[SHOWN_TEXT_SIZE];
  char shown_product[SHOWN_TEXT_SIZE];
  ConsolePrintAscii("Kit %s: ProductName= \"%a\" serves product \"%a\".\n", Path,
                    ShowText(Names, shown_names), ShowText(Product, shown_product));
}

void TellNoProductForKits() {
  ConsolePrintAscii("ERROR: no product name in SMBIOS%a.\n", NO_KIT_CHOSEN);
}

void TellNoKitServes(const char *Product, const char *Manufacturer) {
  // A library keyed by hardware IDs tells models apart by more than the
  // product name; the maker is the first thing to compare. One format for
  // both lines: the maker's part stays empty for a library without IDs.
  bool maker = Manufacturer != nullptr;
  PrintShown("ERROR: no kit in " KIT_LIBRARY_NAME " serves product \"%a\"%a%a%a.\n", Product,
             maker ? " of manufacturer \"" : nullptr, Manufacturer, maker ? "\"" : "");
}

void TellSeveralKitsServe(const char *Product, const char16_t *Kits) {
  char shown_product[SHOWN_TEXT_SIZE];
  ConsolePrintAscii("ERROR: several kits serve product \"%a\": %s.\n",
                    ShowText(Product, shown_product), Kits);
}

void TellLibraryProblem(LibraryProblem Problem, const char16_t *Where) {
  // In the order of LibraryProblem (the first two have no text of their own).
  static const char PROBLEM_TEXTS[] NATURAL_ALIGN(char) =
      "\0\0"
      "cannot be read\0"
      "holds a name longer than 255 characters\0"
      "holds an unprintable folder name\0"
      "takes the library beyond 4096 folders or 65536 entries\0"
      "has an " UPDATE_CONFIG_NAME " that cannot be read\0"
      "cannot be entered\0"
      "makes a path longer than 255 characters\0"
      "begins or ends with a blank\0"
      "holds a folder named " UPDATE_CONFIG_NAME;
  static_assert(static_cast<int>(LibraryProblem::ConfigFolder) == 10, "a text for each problem");
  static_assert(KIT_FOLDER_LIMIT == 4096 && KIT_ENTRY_LIMIT == 65536 && KIT_PATH_LIMIT == 255,
                "the line names the bounds");
  if (Problem == LibraryProblem::NoLibrary) {
    ConsolePrintAscii("ERROR: no kit found in " KIT_LIBRARY_NAME ".\n");
  } else {
    ConsolePrintAscii("ERROR: %s %a%a.\n", Where,
                      NthText(PROBLEM_TEXTS, static_cast<UINTN>(Problem)), NO_KIT_CHOSEN);
  }
}

void TellIdServes(const char16_t *Kit, const HardwareIds *Ids, int Index) {
  char id[HARDWARE_ID_TEXT_SIZE];
  char fields[HARDWARE_ID_FIELD_LIST_SIZE];
  FormatHardwareId(Ids->Id[Index], id);
  ListHardwareIdFields(Index, fields);
  ConsolePrintAscii("Kit %s: HardwareIds= {%a} (HardwareID-%d: %a) serves this machine.\n", Kit,
                    id, Index, fields);
}

void TellMalformedEntry(const char16_t *Kit, const char *Entry, size_t Length) {
  char shown[SHOWN_TEXT_SIZE];
  ConsolePrintAscii("ERROR: %s: HardwareIds= entry \"%a\" is not a hardware ID%a.\n",
                    Kit != nullptr ? Kit : u"" UPDATE_CONFIG_NAME,
                    ShowTextPart(Entry, Length, shown),
                    Kit != nullptr ? NO_KIT_CHOSEN : "");
}

void TellIdsNotListed(const char *Manufacturer, const char *Product, const char *List) {
  PrintShown("ERROR: manufacturer \"%a\", product \"%a\": no ID in HardwareIds= \"%a\".\n",
             Manufacturer, Product, List);
}

void TellHardwareIds(const HardwareIdFields *Fields, const HardwareIds *Ids) {
  char shown[SHOWN_TEXT_SIZE];
  for (int field = 0; field < HWID_FIELD_COUNT; ++field) {
    const char *text = Fields->Text[field];
    ConsolePrintAscii(text != nullptr ? "%a: \"%a\"\n" : "%a: absent\n",
                      HardwareIdFieldName(field),
                      text != nullptr ? ShowTextPart(text, Fields->Length[field], shown) : "");
  }
  for (int index = 0; index < HARDWARE_ID_COUNT; ++index) {
    char id[HARDWARE_ID_TEXT_SIZE + 2];
    char fields[HARDWARE_ID_FIELD_LIST_SIZE];
    id[0] = '{';
    FormatHardwareId(Ids->Id[index], id + 1);
    id[HARDWARE_ID_TEXT_SIZE] = '}';
    id[HARDWARE_ID_TEXT_SIZE + 1] = '\0';
    ListHardwareIdFields(index, fields);
    ConsolePrintAscii("HardwareID-%d: %a <- %a\n", index, Ids->Present[index] ? id : "absent",
                      fields);
  }
}

void TellNotAnOption(const char *Argument) {
  PrintShown("Note: \"%a\" is not an option; it is ignored.\n", Argument);
}

void TellKitCheck(const KitCheck *Check, const char16_t *Folder) {
  // In the order of KitCheckProblem, after None: what is wrong with the
  // file or folder. A bad line gets a line of its own, with its number.
  static const char PROBLEMS[] NATURAL_ALIGN(char) =
      "has no " KIT_SUMS_NAME "\0"
      "cannot be read\0"
      "\0"
      "is listed in " KIT_SUMS_NAME " but cannot be read\0"
      "does not match " KIT_SUMS_NAME "\0"
      "is not in " KIT_SUMS_NAME;
  static_assert(static_cast<int>(KitCheckProblem::NotListed) == 6, "a line for each problem");
  if (Check->Problem == KitCheckProblem::None) {
    // The kit's identity, short: its first four and last two hex digits.
    char head[5];
    // Four bytes of a known size: the compiler copies them in place.
    __builtin_memcpy(head, Check->Identity, 4);
    head[4] = '\0';
    ConsolePrintAscii("Kit%a%s: %d files match " KIT_SUMS_NAME " (kit %a...%a).\n",
                      Folder[0] != 0 ? " " : "", Folder, Check->Files, head,
                      Check->Identity + SHA256_HEX_SIZE - 3);
    return;
  }
  const char16_t *where = Check->Where[0] != 0 ? Check->Where : u"the kit";
  if (Check->Problem == KitCheckProblem::SumsLine) {
    ConsolePrintAscii("ERROR: %s line %d cannot be read.\n", where, Check->Line);
  } else {
    ConsolePrintAscii("ERROR: %s %a%a.\n", where,
                      NthText(PROBLEMS, static_cast<UINTN>(Check->Problem) - 1), "");
  }
}

void TellFileNotListed(const char16_t *Folder, const char16_t *Name) {
  ConsolePrintAscii("Note: %s%a%s is not in " KIT_SUMS_NAME ".\n", Folder,
                    Folder[0] != 0 ? "\\" : "", Name);
}
