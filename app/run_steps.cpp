// The run's steps, each a short sequence over the floors below it: the
// readers hand texts to the rules, the rules hand an outcome to the lines
// that tell it and to the action that carries it out.
#include "app/run_steps.h"

#include "app/actions.h"
#include "app/explain.h"
#include "app/kit_choice.h"
#include "app/kit_library.h"
#include "app/kit_verify.h"
#include "app/product_check.h"
#include "app/record.h"
#include "app/smbios_facts.h"
#include "app/version_check.h"
#include "app/version_segments.h"
#include "libc/string.h"

namespace {

constexpr size_t SERVING_UNITS = 321;

bool DecideByIntegerRule(SmbiosStructurePointer structure, const UpdateConfig *config,
                         const RunOptions *options, const char16_t **script) {
  const char *installed = ReadInstalledVersionString(structure);
  if (installed == nullptr) {
    // Taking an unknown version as 0 would run the old-BIOS update.
    TellBiosVersionNotFound();
    return false;
  }
  IntegerDecision decision = DecideByInteger(installed, config->Version);
  *script = UpdateScriptFor(decision.Order);
  if (options->Verbose) {
    // How much of each text the rule read is asked only when it is told.
    ExplainIntegerDecision(installed, config->Version, &decision,
                           DescribeIntegerReading(installed),
                           DescribeIntegerReading(config->Version),
                           ReadBiosVersionField(structure), options->DecideOnly);
  }
  return true;
}

bool DecideBySegmentRule(SmbiosStructurePointer structure, const UpdateConfig *config,
                         const RunOptions *options, const char16_t **script) {
  const char *installed = ReadBiosVersionField(structure).Text;
  if (installed == nullptr) {
    TellBiosVersionNotFound();
    return false;
  }
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
  VersionOrder order = static_cast<VersionOrder>(comparison);
  *script = UpdateScriptFor(order);
  if (options->Verbose) {
    ExplainSegmentDecision(installed, config->WholeVersion, order, options->DecideOnly);
  }
  return true;
}

// What the kit choice keeps while the library is walked: the first kit
// serving the product, and the serving kits' paths for the line that names
// them all when there are several.
struct KitSearch {
  const char *product;
  KitTally tally;
  char16_t chosen[KIT_PATH_UNITS];
  char chosen_names[CONFIG_WHOLE_PRODUCT_SIZE];
  size_t listed;                    // units in `serving`
  char16_t serving[SERVING_UNITS];  // "kits\A, kits\B", cut at the console's width
  bool verify;
  KitCheck check;  // -verify: the first kit whose UpdateConfig.ini is not intact
};

void AppendServing(KitSearch *search, const char16_t *text) {
  for (; *text != 0 && search->listed < SERVING_UNITS - 1; ++text) {
    search->serving[search->listed++] = *text;
  }
  search->serving[search->listed] = 0;
}

void VisitKit(const char16_t *Path, const UpdateConfig *Config, void *Context) {
  KitSearch *search = static_cast<KitSearch *>(Context);
  // A damaged kit's ProductName= could be this machine's: it ends the choice.
  if (search->verify && (search->check.Problem != KitCheckProblem::None ||
                         !CheckKitFiles(Path, false, nullptr, nullptr, &search->check))) {
    return;
  }
  if (!TallyKit(&search->tally, search->product, Config->WholeProductName)) return;
  if (search->tally.Serving == 1) {
    libc::memcpy(search->chosen, Path, sizeof(search->chosen));
    libc::memcpy(search->chosen_names, Config->WholeProductName, sizeof(search->chosen_names));
  } else {
    AppendServing(search, u", ");
  }
  AppendServing(search, Path);
}

void NoteUnlisted(const char16_t *Path, void *) { TellFileNotListed(Path); }

}  // namespace

bool CheckBiosVersion(SmbiosStructurePointer Structure, const UpdateConfig *Config,
                      const RunOptions *Options, EFI_HANDLE *ImageHandleCopy) {
  const char16_t *script = nullptr;
  bool decided = Options->Segments ? DecideBySegmentRule(Structure, Config, Options, &script)
                                   : DecideByIntegerRule(Structure, Config, Options, &script);
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
  const char *product = nullptr;
  if (!FindProductName(Walk, DeclaredCount, &product)) {
    TellNoProductName(Config->WholeProductName);
    return false;
  }
  if (!ProductNameMatches(product, Config->WholeProductName)) {
    TellProductNotListed(product, Config->WholeProductName);
    return false;
  }
  if (Verbose) TellProductMatches(product);
  return true;
}

bool VerifyKit(const char16_t *Folder, bool Verbose) {
  KitCheck check;
  // A kit of a library has its folder to itself; the current directory of
  // a plain run is a medium's root, which also holds the application,
  // startup.nsh and the shell: only a library's kits get notes.
  UnlistedVisitor notes = Verbose && Folder[0] != 0 ? NoteUnlisted : nullptr;
  if (!CheckKitFiles(Folder, true, notes, nullptr, &check)) {
    TellKitCheck(&check, Folder);
    return false;
  }
  if (Verbose) TellKitCheck(&check, Folder);
  RecordKitIdentity(check.Identity);
  return true;
}

bool ChooseKit(SmbiosWalk Walk, uint16_t DeclaredCount, bool Verbose, bool Verify) {
  KitSearch search;
  search.verify = Verify;
  search.check.Problem = KitCheckProblem::None;
  search.product = nullptr;
  search.tally = KitTally{0, 0};
  search.listed = 0;
  search.serving[0] = 0;
  // Without a product name no library needs to be read to say so.
  bool has_product =
      FindProductName(Walk, DeclaredCount, &search.product) && search.product[0] != '\0';
  LibraryWalk walk;
  if (has_product && !WalkKitLibrary(VisitKit, &search, &walk)) {
    TellLibraryProblem(walk.Problem, walk.Where);
    return false;
  }
  if (search.check.Problem != KitCheckProblem::None) {
    TellKitCheck(&search.check, u"");
    return false;
  }
  switch (DecideKit(&search.tally, has_product)) {
    case KitOutcome::NoProduct:
      TellNoProductForKits();
      return false;
    case KitOutcome::NoKitFound:
      TellLibraryProblem(LibraryProblem::NoLibrary, u"kits");
      return false;
    case KitOutcome::NoKitServes:
      TellNoKitServes(search.product);
      return false;
    case KitOutcome::SeveralServe:
      TellSeveralKitsServe(search.product, search.serving);
      return false;
    case KitOutcome::Chosen:
      break;
  }
  if (Verbose) TellKitChosen(search.chosen, search.chosen_names, search.product);
  if (Verify && !VerifyKit(search.chosen, Verbose)) return false;
  if (!EnterKitFolder(search.chosen)) {
    TellLibraryProblem(LibraryProblem::NotEntered, search.chosen);
    return false;
  }
  RecordKit(search.chosen);
  return true;
}
