// The fleet report's top level: the kits read, the inputs searched, the
// rows made by workers and held until every machine is known, the records
// joined, then the chosen form written.
#include "fleet/fleet_report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <utility>

#include "app/file_names.h"
#include "fleet/report_kits.h"
#include "fleet/report_output.h"
#include "fleet/rollout_records.h"
#include "fleet/row_codec.h"
#include "fleet/row_text.h"
#include "fleet/row_workers.h"
#include "fleet/shown_text.h"
#include "sim/host_file.h"
#include "sim/host_output.h"
#include "sim/smbios_input.h"

namespace fleet {
namespace {

using FolderId = std::pair<dev_t, ino_t>;

}  // namespace

FleetSettings SettingsOf(const FleetCommand &command) {
  FleetSettings settings;
  settings.args = SplitOnBlanks(command.app_args);
  settings.library = !command.libraries.empty();
  settings.has_aarch64_args = command.has_app_args_aarch64;
  settings.aarch64_args = SplitOnBlanks(command.app_args_aarch64);
  return settings;
}

bool LoadKits(const FleetCommand &command, std::vector<KitInfo> *kits, std::string *error) {
  std::vector<std::string> folders = command.kits;
  for (const std::string &library : command.libraries) {
    if (!FindKits(library, &folders, error)) return false;
  }
  if (folders.empty()) folders.push_back(".");
  // Two names of one folder would serve every one of its machines twice
  // over, as "several kits": a mistake in the library, not a choice.
  std::vector<std::pair<FolderId, std::string>> ids;
  for (const std::string &folder : folders) {
    KitInfo kit;
    if (!LoadKit(folder, &kit, error)) return false;
    struct stat info;
    stat(folder.c_str(), &info);
    for (const auto &id : ids) {
      if (id.first == FolderId{info.st_dev, info.st_ino}) {
        *error = "kits " + id.second + " and " + folder + " are the same folder";
        return false;
      }
    }
    ids.push_back({{info.st_dev, info.st_ino}, folder});
    kits->push_back(kit);
  }
  return true;
}

const char *const FAIL_ON_STATES[7] = {"not-visited", "started-still-below", "refused", "at-target",
                                      "no-kit",      "several-kits",        "warnings"};

bool FailOnNeedsRecords(const std::string &state) {
  for (const char *rollout : ROLLOUT_STATES) {
    if (state == rollout) return true;
  }
  return false;
}

std::string TotalsLine(const FleetTotals &totals, bool records, bool kits_chosen) {
  auto count = [](size_t n, const char *what) { return std::to_string(n) + " " + what; };
  std::string line = count(totals.machines, totals.machines == 1 ? "machine" : "machines") + ", " +
                     count(totals.to_update, "to update");
  if (records) line += ", " + count(totals.not_visited, "not visited");
  if (kits_chosen || totals.without_kit != 0) line += ", " + count(totals.without_kit, "without a kit");
  if (totals.several_kits != 0) line += ", " + count(totals.several_kits, "served by several kits");
  if (totals.not_smbios != 0) line += ", " + count(totals.not_smbios, "not SMBIOS data");
  return line;
}

namespace {

// Every records file the arguments name; damaged lines are warned of and
// skipped.
bool LoadRecords(const std::string &name, const std::vector<std::string> &files, RecordSet *records,
                 std::ostream &err, std::string *error) {
  for (const std::string &file : files) {
    if (!records->ReadFile(file, error)) return false;
  }
  for (const std::string &warning : records->Warnings()) {
    err << name << ": warning: " << Cell(warning) << "\n";
  }
  return true;
}

std::string Named(bool has, const std::string &text) { return has ? text : "-"; }

std::string UnmatchedText(const RolloutRecord &record) {
  std::string text = record.summary.where + ": serial " +
                     Named(record.has_serial, record.serial) + ", product " +
                     Named(record.has_product, record.product) + ", uuid " +
                     Named(record.has_uuid, record.uuid);
  if (record.copies > 1) text += " (and " + std::to_string(record.copies - 1) + " earlier lines alike)";
  return text;
}

// Unmatched records the error stream names one by one; a count stands for
// the rest (a stick that looped on one machine writes millions of lines).
constexpr size_t UNMATCHED_SHOWN = 10;

// An input named on the command line must be there: a misspelt path would
// otherwise be a row that says "not SMBIOS data", and the report would
// pass for made.
bool CheckInputs(const std::vector<std::string> &inputs, std::string *error) {
  for (const std::string &input : inputs) {
    struct stat info;
    if (stat(input.c_str(), &info) != 0) {
      *error = "INPUT " + input + ": " + std::strerror(errno);
      return false;
    }
    int wanted = S_ISDIR(info.st_mode) ? R_OK | X_OK : R_OK;
    if (access(input.c_str(), wanted) != 0) {
      *error = "INPUT " + input + ": cannot be read: " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// Rows wait here, in the form workers hand them over, until the whole fleet
// is known; an unlinked temporary file keeps memory flat however large the
// fleet.
class RowSpill {
 public:
  RowSpill() : file_(std::tmpfile()) {}
  ~RowSpill() {
    if (file_ != nullptr) std::fclose(file_);
  }
  RowSpill(const RowSpill &) = delete;
  RowSpill &operator=(const RowSpill &) = delete;
  bool Ready() const { return file_ != nullptr; }
  bool Put(const FleetRow &row) {
    std::string bytes = RowToTransport(row);
    uint64_t size = bytes.size();
    return std::fwrite(&size, sizeof(size), 1, file_) == 1 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool Rewind() { return std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0; }
  bool Next(FleetRow *row) {
    uint64_t size = 0;
    if (std::fread(&size, sizeof(size), 1, file_) != 1) return false;
    std::string bytes(size, '\0');
    return std::fread(&bytes[0], 1, size, file_) == size && RowFromTransport(bytes, row);
  }

 private:
  FILE *file_;
};

// One machine, as two inputs can hold it: serial number, UUID and product
// alike. Empty when the data cannot tell the machine (no UUID, no serial
// number or a placeholder one).
std::string MachineKey(const FleetRow &row) {
  const MachineFacts &facts = row.facts;
  if (!row.error.empty() || !facts.has_uuid || !facts.has_serial ||
      !SerialTellsMachinesApart(facts.serial)) {
    return "";
  }
  return SerialKey(facts.serial, facts.has_product ? facts.product : "") + '\0' + UuidKey(facts.uuid);
}

bool InState(const FleetRow &row, const std::string &state) {
  if (!row.error.empty()) return false;
  if (state == "no-kit") return row.kits.empty();
  if (state == "several-kits") return row.kits.size() > 1;
  if (state == "warnings") return !row.warnings.empty();
  return row.rollout == state;
}

// Where the kits came from, as the command named them.
std::string KitsSource(const FleetCommand &command) {
  for (const std::string &rule : command.shown_as) {
    size_t equals = rule.find('=');
    std::string medium = equals == std::string::npos ? rule : rule.substr(equals + 1);
    if (!medium.empty() && medium.back() == ':') medium.pop_back();
    return "the medium " + medium;
  }
  std::string source;
  for (const std::string &kit : command.kits) source += (source.empty() ? "" : ", ") + std::string("--kit ") + kit;
  for (const std::string &library : command.libraries) {
    source += (source.empty() ? "" : ", ") + std::string("--kits ") + library;
  }
  return source.empty() ? "the current directory (--kit .)" : source;
}

PageHeader HeaderOf(const FleetCommand &command) {
  PageHeader header;
  header.options = command.app_args.empty() ? "(none)" : command.app_args;
  header.kits = KitsSource(command);
  time_t now = time(nullptr);
  struct tm utc;
  char made[32] = "";
  if (gmtime_r(&now, &utc) != nullptr) strftime(made, sizeof(made), "%Y-%m-%d %H:%M UTC", &utc);
  header.made = made;
  header.version = FLEET_VERSION;
  return header;
}

}  // namespace

int RunFleetReport(const FleetCommand &command, std::ostream &err) {
  auto fail = [&](const std::string &why) {
    err << command.name << ": " << Cell(why) << "\n";  // one line, whatever it names
    return FLEET_CANNOT_RUN;
  };
  FleetSettings settings = SettingsOf(command);
  std::string error;
  bool with_records = !command.records.empty();
  for (const std::string &state : command.fail_on) {
    if (FailOnNeedsRecords(state) && !with_records) {
      return fail("--fail-on " + state + ": a rollout state, known only with --records");
    }
  }
  if (!CheckAppArgs(settings.args, &error)) return fail(error);
  if (!CheckInputs(command.inputs, &error)) return fail(error);
  if (settings.has_aarch64_args && !CheckAppArgs(settings.aarch64_args, &error)) return fail(error);
  if (!LoadKits(command, &settings.kits, &error)) return fail(error);
  RecordSet records;
  std::vector<std::string> record_files;
  if (with_records && (!ListRecordFiles(command.records, &record_files, &error) ||
                       !LoadRecords(command.name, record_files, &records, err, &error))) {
    return fail(error);
  }
  NameKitsAsShown(command.shown_as, &settings.kits);
  sim::FdBuffer standard_buffer(STDOUT_FILENO);
  std::ostream standard_out(&standard_buffer);
  std::unique_ptr<ReportFile> file;
  if (!command.output.empty()) {
    file.reset(new ReportFile(command.output));
    if (!file->Open(&error)) return fail(error);
    std::vector<std::string> inputs = command.inputs;
    inputs.insert(inputs.end(), record_files.begin(), record_files.end());
    for (const KitInfo &kit : settings.kits) {
      std::string folder = kit.dir.empty() ? kit.folder : kit.dir, entry;
      if (sim::FindFolderEntry(folder, UPDATE_CONFIG_NAME, &entry)) {
        inputs.push_back(folder + "/" + entry);
      }
    }
    for (const std::string &input : inputs) {
      if (file->IsInput(input)) return fail("--output " + command.output + ": is an input (" + input + ")");
    }
  } else if (command.standard_output_closed) {
    return fail("standard output is closed: give --output FILE");
  }
  RowSpill spill;
  if (!spill.Ready()) return fail(std::string("no temporary file for the rows: ") + std::strerror(errno));

  // First the rows, and what only the whole fleet tells: which inputs
  // repeat a machine, and how many machines bear each UUID.
  sim::SmbiosInputSearch search(command.inputs);
  size_t rows = 0;
  std::string clash;  // an input found by the search that is the output's file
  bool spilled = true;
  std::map<std::string, std::string> first_input;  // MachineKey -> the input that holds it first
  std::map<size_t, std::string> repeats;           // row -> that first input
  std::map<std::string, size_t> uuid_machines;     // lower-case UUID -> machines bearing it
  auto last = std::chrono::steady_clock::now();
  std::vector<KitUse> uses(settings.kits.size());
  MakeRows(&search, settings, command.jobs, [&](const FleetRow &made) {
    if (file && file->IsInput(made.input)) {
      clash = made.input;
      return false;
    }
    CountKitUse(settings, made, &uses);
    std::string key = MachineKey(made);
    auto first = key.empty() ? first_input.end() : first_input.find(key);
    if (first != first_input.end()) {
      repeats[rows] = first->second;
    } else {
      if (!key.empty()) first_input.emplace(key, made.input);
      if (made.error.empty() && made.facts.has_uuid) ++uuid_machines[UuidKey(made.facts.uuid)];
    }
    ++rows;
    if (command.progress) {
      auto now = std::chrono::steady_clock::now();
      if (now - last > std::chrono::milliseconds(200)) {
        err << "\r" << command.name << ": " << rows << (rows == 1 ? " machine" : " machines") << std::flush;
        last = now;
      }
    }
    spilled = spill.Put(made);
    return spilled;
  });
  if (command.progress) {
    err << "\r" << command.name << ": " << rows << (rows == 1 ? " machine\n" : " machines\n") << std::flush;
  }
  if (!clash.empty()) return fail("--output " + command.output + ": is an input (" + clash + ")");
  if (!spilled || !spill.Rewind()) return fail(std::string("the rows' temporary file: ") + std::strerror(errno));

  // Then the report, row by row in input order.
  std::ostream &out = file ? file->Stream() : standard_out;
  ReportWriter writer(command.format, out, settings.kits, with_records);
  writer.SetPageHeader(HeaderOf(command));
  FleetTotals totals;
  std::map<std::string, size_t> failing;  // --fail-on state -> machines in it
  FleetRow row;
  for (size_t index = 0; index < rows; ++index) {
    if (!spill.Next(&row)) return fail(std::string("the rows' temporary file cannot be read back"));
    auto repeat = repeats.find(index);
    if (repeat != repeats.end()) {
      row.same_as = repeat->second;
      row.warnings.push_back(Warning{"same-machine", "the same machine as " + row.same_as +
                                                         " (serial number, UUID and product alike): "
                                                         "counted once, under that input"});
    }
    bool uuid_unique = true;
    if (row.error.empty() && row.facts.has_uuid) {
      size_t sharing = uuid_machines[UuidKey(row.facts.uuid)];
      uuid_unique = sharing <= 1;
      if (!uuid_unique) {
        row.warnings.push_back(Warning{"shared-uuid", "its UUID " + row.facts.uuid + " is borne by " +
                                                          std::to_string(sharing) +
                                                          " machines of the fleet: records join it "
                                                          "by serial number and product"});
      }
    }
    if (with_records) ApplyRecords(&records, &row, uuid_unique);
    for (const std::string &state : command.fail_on) failing[state] += InState(row, state);
    if (row.same_as.empty()) {
      ++totals.machines;
      if (!row.error.empty()) {
        ++totals.not_smbios;
      } else if (row.kits.empty()) {
        ++totals.without_kit;
      } else if (row.kits.size() > 1) {
        ++totals.several_kits;
      } else if (ScriptsOutcome(row.run) == UPDATE_SCRIPT_OLD_NAME) {
        ++totals.to_update;
      }
      totals.not_visited += row.rollout == "not-visited";
    }
    writer.Add(row);
    if (!out) break;
  }
  WarnOfKits(settings, uses, rows, command.name, err);
  if (with_records) {
    // Machines the inventory lacks: the table lists them in its summary,
    // every other form on the error stream, the first few by name.
    std::vector<const RolloutRecord *> unmatched = records.Unmatched();
    std::vector<std::string> lines;
    size_t count = 0;
    for (const RolloutRecord *record : unmatched) {
      count += record->copies;
      if (lines.size() < UNMATCHED_SHOWN) lines.push_back(UnmatchedText(*record));
    }
    if (count > 0 && unmatched.size() > lines.size()) {
      lines.push_back("and " + std::to_string(unmatched.size() - lines.size()) + " more machines' records");
    }
    writer.SetUnmatched(lines, count);
    if (command.format != Format::Table && count > 0) {
      err << command.name << ": " << count << (count == 1 ? " record matches" : " records match")
          << " no machine:\n";
      for (const std::string &line : lines) err << "  " << Cell(line) << "\n";
    }
  }
  writer.Finish();
  if (file) {
    if (!file->Commit(&error)) return fail(error);
    err << command.name << ": wrote " << Cell(command.output) << ": "
        << TotalsLine(totals, with_records, settings.library || settings.kits.size() > 1) << ".\n";
  } else {
    standard_out.flush();
    if (standard_buffer.Error() != 0) {
      return fail(std::string("standard output: cannot be written: ") + std::strerror(standard_buffer.Error()));
    }
  }
  std::string found;
  for (const std::string &state : command.fail_on) {
    if (failing[state] == 0) continue;
    found += (found.empty() ? "" : ", ") + std::to_string(failing[state]) + " " + state;
  }
  if (found.empty()) return FLEET_REPORT_MADE;
  err << command.name << ": --fail-on: " << found << "\n";
  return FLEET_STATES_FOUND;
}

}  // namespace fleet
