// The run's steps, each a short sequence over the floors below it: the
// readers hand texts to the rules, the rules hand an outcome to the lines
// that tell it and to the action that carries it out.
#include "app/run_steps.h"

#include "app/actions.h"
#include "app/explain.h"
#include "app/file_names.h"
#include "app/kit_choice.h"
#include "app/kit_library.h"
#include "app/kit_verify.h"
#include "app/model_check.h"
#include "app/product_check.h"
#include "app/record.h"
#include "app/shown_text.h"
#include "app/smbios_facts.h"
#include "app/version_check.h"
#include "app/version_segments.h"
#include "libc/string.h"
#include "platform/console.h"
#include "smbios/structure_table.h"

namespace {

// What the model check reads of the machine.
struct Machine {
  FirstStructures first;
  bool has_system;       // a System Information structure
  const char *product;   // its Product Name; "" when it has none
  const char *manufacturer;  // its Manufacturer, for the refusals; "" when it has none
  HardwareIdFields fields;
  HardwareIds ids;
};

void ReadMachine(SmbiosWalk walk, uint16_t declared, Machine *machine) {
  FindFirstStructures(walk, declared, &machine->first);
  machine->product = "";
  machine->has_system = ProductNameOf(&machine->first, &machine->product);
  // Read here once for the two refusals that name it.
  const char *manufacturer =
      machine->has_system ? GetSmbiosFieldString(machine->first.Of[SMBIOS_TYPE_SYSTEM_INFORMATION],
                                                 SYSTEM_MANUFACTURER_FIELD)
                          : nullptr;
  machine->manufacturer = manufacturer != nullptr ? manufacturer : "";
  ReadHardwareIdFields(&machine->first, &machine->fields);
  ComputeHardwareIds(&machine->fields, &machine->ids);
}

ModelVerdict CheckKit(const UpdateConfig *config, const Machine *machine) {
  return CheckModel(config->HasProductName ? config->WholeProductName : nullptr,
                    config->HasHardwareIds ? config->HardwareIds : nullptr, machine->product,
                    &machine->ids);
}

void DecideByIntegerRule(SmbiosStructurePointer structure, const char *installed,
                         const UpdateConfig *config, const RunOptions *options,
                         VersionOrder *order) {
  IntegerDecision decision = DecideByInteger(installed, config->Version);
  *order = decision.Order;
  if (options->Verbose) {
    // How much of each text the rule read is asked only when it is told.
    ExplainIntegerDecision(installed, config->Version, &decision,
                           DescribeIntegerReading(installed),
                           DescribeIntegerReading(config->Version),
                           ReadBiosVersionField(structure), options->DecideOnly);
  }
}

bool DecideBySegmentRule(const char *installed, const UpdateConfig *config,
                         const RunOptions *options, VersionOrder *order) {
  SegmentComparison comparison = CompareVersionSegments(installed, config->WholeVersion);
  if (comparison == SegmentComparison::NotComparable) {
    // Another model or another numbering scheme: any script is a guess.
    TellVersionsNotComparable(installed, config->WholeVersion);
    return false;
  }
  // Below, Equal and Above stand in the order of Older, Same and Newer.
  static_assert(int(SegmentComparison::Below) == int(VersionOrder::Older) &&
                    int(SegmentComparison::Equal) == int(VersionOrder::Same) &&
                    int(SegmentComparison::Above) == int(VersionOrder::Newer),
                "a comparison is its order");
  *order = static_cast<VersionOrder>(comparison);
  if (options->Verbose) {
    ExplainSegmentDecision(installed, config->WholeVersion, *order, options->DecideOnly);
  }
  return true;
}

// The order of the installed version against the configured one, by the
// rule the options choose, told with -v; false, after its message, when
// none can be found.
bool DecideOrder(SmbiosStructurePointer structure, const UpdateConfig *config,
                 const RunOptions *options, VersionOrder *order) {
  const char *installed = InstalledVersionFor(structure, options->Segments);
  // Taking an unknown version as 0 would run the old-BIOS update.
  if (installed == nullptr) {
    TellBiosVersionNotFound();
    return false;
  }
  if (options->Segments) return DecideBySegmentRule(installed, config, options, order);
  DecideByIntegerRule(structure, installed, config, options, order);
  return true;
}

// What the kit choice keeps while the library is walked: the first kit
// serving the product, and the serving kits' paths for the line that names
// them all when there are several.
struct KitSearch {
  const Machine *machine;
  KitTally tally;
  bool keyed_by_ids;  // a kit holds HardwareIds=
  int chosen_id;      // the ID that chose the kit, or -1
  char16_t chosen[KIT_PATH_UNITS];
  char chosen_names[CONFIG_WHOLE_PRODUCT_SIZE];
  char16_t malformed[KIT_PATH_UNITS];  // the first kit with a malformed entry
  char malformed_entry[SHOWN_TEXT_SIZE];
  size_t listed;                    // units in `serving`
  char16_t serving[CONSOLE_LINE_UNITS];  // "kits\A, kits\B", cut at the console's width
  bool verify;
  KitCheck check;  // -verify: the first kit whose UpdateConfig.ini is not intact
};

void AppendServing(KitSearch *search, const char16_t *text) {
  for (; *text != 0 && search->listed < CONSOLE_LINE_UNITS - 1; ++text) {
    search->serving[search->listed++] = *text;
  }
  search->serving[search->listed] = 0;
}

void VisitKit(const char16_t *Path, const UpdateConfig *Config, void *Context) {
  KitSearch *search = static_cast<KitSearch *>(Context);
  // A damaged kit's model keys could be this machine's: it ends the
  // choice, which the kits after it no longer change.
  if (search->verify && !CheckKitFiles(Path, false, nullptr, nullptr, &search->check)) {
    search->verify = false;
    return;
  }
  ModelVerdict verdict = CheckKit(Config, search->machine);
  search->keyed_by_ids |= Config->HasHardwareIds;
  if (verdict.Match == ModelMatch::Malformed && search->tally.Malformed == 0) {
    libc::memcpy(search->malformed, Path, sizeof(search->malformed));
    ShowTextPart(verdict.Entry, verdict.EntryLength, search->malformed_entry);
  }
  if (!TallyKit(&search->tally, verdict.Match)) return;
  if (search->tally.Serving == 1) {
    search->chosen_id = verdict.Id;
    libc::memcpy(search->chosen, Path, sizeof(search->chosen));
    libc::memcpy(search->chosen_names, Config->WholeProductName, sizeof(search->chosen_names));
  } else {
    AppendServing(search, u", ");
  }
  AppendServing(search, Path);
}

void NoteUnlisted(const char16_t *Name, void *Folder) {
  TellFileNotListed(static_cast<const char16_t *>(Folder), Name);
}

}  // namespace

bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, EFI_HANDLE *ImageHandleCopy) {
  VersionOrder order = VersionOrder::Same;
  bool decided = DecideOrder(Structure, Config, Options, &order);
  const char16_t *script = UpdateScriptFor(order);
  // The record is written and closed before the script may flash and reset.
  RecordDecision(Structure, decided ? script : nullptr, decided && !Options->DecideOnly);
  if (!decided) return false;
  if (Options->DecideOnly) return true;
  // The UEFI Shell answers a script it cannot find with a console line of
  // its own and a success status, so only -v looks for the file first; the
  // plain run makes no such call and says nothing.
  EFI_STATUS found = Options->Verbose ? FindUpdateScript(script) : EFI_SUCCESS;
  EFI_STATUS started = RunUpdateScript(ImageHandleCopy, script);
  // A refusal by the shell says more than the missing file it may follow.
  // Under the EFI 1.x shell a refusal arrives as the script's own status
  // and stays unsaid, like any script's outcome.
  EFI_STATUS not_run = EFI_ERROR(started) ? started : found;
  if (Options->Verbose && EFI_ERROR(not_run)) TellScriptNotRun(script, not_run);
  return true;
}

bool CheckProductName(SmbiosWalk Walk, uint16_t DeclaredCount, const UpdateConfig *Config,
                      bool Verbose) {
  Machine machine;
  ReadMachine(Walk, DeclaredCount, &machine);
  const char *names = Config->WholeProductName;
  ModelVerdict verdict = CheckKit(Config, &machine);
  if (verdict.Match == ModelMatch::Malformed) {
    TellMalformedEntry(nullptr, verdict.Entry, verdict.EntryLength);
    return false;
  }
  // A kit without HardwareIds= is checked and told as it always was.
  bool by_names = !Config->HasHardwareIds || Config->HasProductName;
  if (by_names && !ProductNameMatches(machine.product, names)) {
    if (machine.has_system) {
      TellProductNotListed(machine.product, names);
    } else {
      TellNoProductName(names);
    }
    return false;
  }
  if (verdict.Match != ModelMatch::Serves) {
    TellIdsNotListed(machine.manufacturer, machine.product, Config->HardwareIds);
    return false;
  }
  if (Verbose && by_names) TellProductMatches(machine.product);
  if (verdict.Id >= 0) {
    if (Verbose) TellIdServes(u".", &machine.ids, verdict.Id);
    RecordHardwareId(machine.ids.Id[verdict.Id]);
  }
  return true;
}

bool VerifyKit(const char16_t *Folder, bool Verbose) {
  KitCheck check;
  // A kit of a library has its folder to itself; the current directory of
  // a plain run is a medium's root, which also holds the application,
  // startup.nsh and the shell: only a library's kits get notes.
  UnlistedVisitor notes = Verbose && Folder[0] != 0 ? NoteUnlisted : nullptr;
  bool intact = CheckKitFiles(Folder, true, notes, const_cast<char16_t *>(Folder), &check);
  // A damaged kit is always told, an intact one with -v: one call for both.
  if (!intact || Verbose) TellKitCheck(&check, Folder);
  if (!intact) return false;
  RecordKitIdentity(check.Identity);
  return true;
}

bool ChooseKit(SmbiosWalk Walk, uint16_t DeclaredCount, bool Verbose, bool Verify) {
  Machine machine;
  ReadMachine(Walk, DeclaredCount, &machine);
  // Zeroed whole: one call, where each field set on its own costs a store.
  KitSearch search = {};
  search.verify = Verify;
  search.machine = &machine;
  search.chosen_id = -1;
  // Without a product name or a single ID no kit can serve the machine, and
  // no library needs to be read to say so.
  bool has_model = machine.product[0] != '\0';
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) has_model |= machine.ids.Present[i];
  LibraryWalk walk;
  if (has_model && !WalkKitLibrary(VisitKit, &search, &walk)) {
    TellLibraryProblem(walk.Problem, walk.Where);
    return false;
  }
  if (search.check.Problem != KitCheckProblem::None) {
    TellKitCheck(&search.check, u"");
    return false;
  }
  switch (DecideKit(&search.tally, has_model)) {
    case KitOutcome::NoProduct:
      TellNoProductForKits();
      return false;
    case KitOutcome::NoKitFound:
      TellLibraryProblem(LibraryProblem::NoLibrary, u"" KIT_LIBRARY_NAME);
      return false;
    case KitOutcome::Malformed:
      TellMalformedEntry(search.malformed, search.malformed_entry, SHOWN_TEXT_SIZE);
      return false;
    case KitOutcome::NoKitServes:
      TellNoKitServes(machine.product, search.keyed_by_ids ? machine.manufacturer : nullptr);
      return false;
    case KitOutcome::SeveralServe:
      TellSeveralKitsServe(machine.product, search.serving);
      return false;
    case KitOutcome::Chosen:
      break;
  }
  if (Verbose) {
    if (search.chosen_id >= 0) {
      TellIdServes(search.chosen, &machine.ids, search.chosen_id);
    } else {
      TellKitChosen(search.chosen, search.chosen_names, machine.product);
    }
  }
  if (Verify && !VerifyKit(search.chosen, Verbose)) return false;
  if (!EnterKitFolder(search.chosen)) {
    TellLibraryProblem(LibraryProblem::NotEntered, search.chosen);
    return false;
  }
  RecordKit(search.chosen);
  if (search.chosen_id >= 0) RecordHardwareId(machine.ids.Id[search.chosen_id]);
  return true;
}

void ShowHardwareIds(SmbiosWalk Walk, uint16_t DeclaredCount) {
  Machine machine;
  ReadMachine(Walk, DeclaredCount, &machine);
  TellHardwareIds(&machine.fields, &machine.ids);
}
