// The run: find the SMBIOS entry point, read UpdateConfig.ini, then walk the
// structure table in table order and hand every BIOS Information structure
// to the version check, which has the shell run one update script for it.
// The steps themselves live in run_steps.cpp; this file holds their order.
//
// The run ends with 1 (EFI_ABORTED for the shell) whenever the decision
// could not be made: no SMBIOS table, no readable configuration file, no
// "Version=" key, a BIOS Information structure without a version string, or
// a table that holds no BIOS Information structure at all. Carrying on would
// read through a missing table or flash on a guess, and ending with success
// would tell a fleet script that the update was taken care of. The options
// add refusals of their own (another model, versions that cannot be
// compared); without options the run is the plain decision. With -log the
// run tells the record what it learns, and the record ends with the run.
#include "app/main.h"

#include "app/explain.h"
#include "app/options.h"
#include "app/record.h"
#include "app/run_steps.h"
#include "app/update_config.h"
#include "platform/console.h"
#include "platform/globals.h"
#include "smbios/entry_point.h"

namespace app {

namespace {

struct RunState {
  UpdateConfig config;
  const RunOptions *options;
  EFI_HANDLE image_handle;  // the shell gets a reference to this copy
  unsigned decided;
  bool undecided;
};

void VisitStructure(SmbiosStructurePointer Structure, void *Context) {
  RunState *run = static_cast<RunState *>(Context);
  if (Structure.Hdr->Type != SMBIOS_TYPE_BIOS_INFORMATION) return;
  if (CheckBiosVersion(Structure, &run->config, run->options, &run->image_handle)) {
    ++run->decided;
  } else {
    run->undecided = true;
  }
}

bool LocateTable(const RunOptions *options, uint16_t *declared) {
  if (!LocateSmbiosTable(options->Smbios3, declared)) return false;
  if (options->Verbose) {
    // The major version as a number: no text for each.
    ConsolePrintAscii("SMBIOS %d.x entry point.\n", gSmbios3EntryPoint != nullptr ? 3 : 2);
  }
  return true;
}

}  // namespace

int RunUpdateSelection(StructureWalk Walk, const RunOptions *Options) {
  BeginRunRecord(Options, Walk);
  uint16_t declared = 0;
  if (!LocateTable(Options, &declared)) return EndRunRecord(1);
  RecordTableFound(declared);
  if (Options->HardwareIds) {
    // Read off the screen by a technician: nothing is decided or run.
    ShowHardwareIds(Walk, declared);
    return EndRunRecord(0);
  }

  // -kits: the run goes on in the chosen kit's folder as if started there
  // with -product as well.
  bool product = Options->Product;
  if (Options->Kits) {
    if (!ChooseKit(Walk, declared, Options->Verbose, Options->Verify)) return EndRunRecord(1);
    product = true;
  } else if (Options->Verify && !VerifyKit(u"", Options->Verbose)) {
    return EndRunRecord(1);
  }

  RunState run = {};
  run.options = Options;
  run.image_handle = gImageHandle;
  bool whole_values = Options->Segments || product || Options->Log != nullptr;
  if (LoadUpdateConfig(&run.config, whole_values, product) != ConfigResult::Loaded) {
    return EndRunRecord(1);
  }
  RecordConfig(&run.config);
  if (product && !CheckProductName(Walk, declared, &run.config, Options->Verbose)) {
    return EndRunRecord(1);
  }

  ForgetRecordMessage();
  Walk(declared, VisitStructure, &run);
  return EndRunRecord(run.undecided || run.decided == 0 ? 1 : 0);
}

int main(int argc, char **argv) {
  RunOptions options;
  ParseRunOptions(argc, argv, &options);
  // The plain run ignores arguments it does not know; one spelt like an
  // option is said, so a misspelt safety check is not off without a word.
  for (int i = NextUnknownOption(argc, argv, 1); i < argc; i = NextUnknownOption(argc, argv, i + 1)) {
    TellNotAnOption(argv[i]);
  }
  return RunUpdateSelection(WalkSmbiosTable, &options);
}

}  // namespace app
