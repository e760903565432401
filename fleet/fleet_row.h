// One machine of the fleet report: its SMBIOS data run twice through the
// application on the simulated firmware (with the kit's options, and with
// -segments added), the facts the data holds, and the warnings wherever the
// decision cannot be trusted.
#pragma once

#include <string>
#include <vector>

#include "app/hardware_ids.h"
#include "app/model_check.h"
#include "fleet/machine_facts.h"
#include "fleet/run_record.h"
#include "platform/efi.h"

namespace fleet {

// A kit as the report knows it: its folder and the two values of its
// UpdateConfig.ini that the report shows (the whole values, as the options
// read them).
struct KitInfo {
  std::string folder;  // as the report names it
  std::string dir;     // where it is read: the folder itself, or where a medium's kits were unpacked
  bool has_product_name = false;
  std::string product_name;  // the whole ProductName= value: a name or a list
  bool product_name_key = false;  // it holds ProductName=, empty as it may be
  bool has_hardware_ids = false;
  std::string hardware_ids;  // the whole HardwareIds= value
  bool has_version = false;
  std::string version;       // the whole Version= value
  // The bytes of its UpdateConfig.ini, read once when the kit is loaded:
  // every run under the kit reads these, not the host file again.
  bool has_config = false;
  std::string config;
  // Its SHA256SUMS, checked by the image's own -verify check when the
  // folder holds one: whether every listed file matches, the image's line
  // when not, and the kit's identity (the SHA-256 of SHA256SUMS).
  bool has_sums = false;
  bool sums_intact = false;
  std::string sums_line;
  std::string identity;
};

struct FleetSettings {
  // Every kit of the report, in the order given. With one kit every machine
  // runs under it; with more, each machine runs under the kits whose
  // model keys serve it, by the image's own model check.
  std::vector<KitInfo> kits;
  std::vector<std::string> args;  // the image's options for every run
  // The kits are a library (--kits) that machines choose from as the image
  // does with -kits: by their product, even when the library holds one kit.
  bool library = false;
  // A medium for x64 and AArch64 machines: an AArch64 machine runs with
  // this line instead (its image's own options), a machine whose data
  // names no processor with both.
  bool has_aarch64_args = false;
  std::vector<std::string> aarch64_args;
};

struct RunOutcome {
  std::vector<std::string> scripts;   // in run order
  std::vector<std::string> messages;  // console lines without their line ends
  EFI_STATUS status = EFI_SUCCESS;
};

struct Warning {
  std::string key;       // a short name, the same for every machine it applies to
  std::string sentence;  // what it means for this machine
};

// A machine's two runs under one kit.
struct KitRuns {
  std::string kit;      // the kit's folder
  RunOutcome run;       // with the kit's options
  RunOutcome segments;  // with -segments added
};

struct FleetRow {
  std::string input;
  std::string error;  // set: the input is not SMBIOS data; nothing else is
  // What its SMBIOS data says. Once the row is made, the texts the forms
  // show (manufacturer, product, the first BIOS Information structure's
  // strings, the hardware-ID fields) are cut as ShownText cuts them; the
  // serial number, SKU and UUID stay whole, as records join on them.
  MachineFacts facts;
  // The runs under each kit the machine is served by, in the kits' order:
  // one kit (the report's only kit, or the one kit whose ProductName=
  // matches); none (no kit matches: warning "no-kit"); or several (warning
  // "several-kits"). `run` and `segments` are the runs of the first.
  std::vector<KitRuns> kits;
  RunOutcome run;       // with the kit's options
  RunOutcome segments;  // with -segments added
  // The identity of the one kit that serves the machine, when its folder
  // holds a SHA256SUMS; empty otherwise.
  std::string kit_sha256;
  std::vector<Warning> warnings;
  // With records read (--records): the machine's rollout state ("" when
  // none applies) and its latest record.
  std::string rollout;
  bool has_record = false;
  RecordSummary record;
  // Another input of the report that holds this same machine (the first),
  // or empty: the totals count the machine once, under that input.
  std::string same_as;
};

// The kits a machine is served by, as indexes into `settings.kits`: the
// only kit when there is one and it is no library; else every kit whose
// model keys serve the machine (its product and hardware IDs), counted as
// -kits counts them (none when the data names no model).
std::vector<size_t> KitsServing(const FleetSettings &settings, bool has_product,
                                const std::string &product, const HardwareIds &ids);

// The model check of one kit for a machine: the image's CheckModel on the
// kit's keys.
ModelVerdict CheckKitModel(const KitInfo &kit, bool has_product, const std::string &product,
                           const HardwareIds &ids);

// Whether two runs decide alike: the same scripts and the same status.
bool SameDecision(const RunOutcome &a, const RunOutcome &b);

// The option list with -segments added unless it holds it already (ASCII
// case ignored, as the image matches it).
std::vector<std::string> WithSegments(const std::vector<std::string> &args);

// Loads `input` (a dump file or a sysfs tables folder) and makes its row.
// Never fails: an input that cannot be read or is not SMBIOS data is a row
// with `error` set.
FleetRow MakeFleetRow(const std::string &input, const FleetSettings &settings);

// The same for SMBIOS data already in memory, in the dump layout.
FleetRow MakeFleetRowFromDump(const std::string &input, const std::vector<uint8_t> &dump,
                              const FleetSettings &settings);

}  // namespace fleet
