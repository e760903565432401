// The table form. Every text from the data goes through Cell, so a string
// from a dump or a record cannot drive the terminal.
#include "fleet/report_table.h"

#include <algorithm>
#include <map>
#include <set>

#include "app/file_names.h"
#include "fleet/rollout_records.h"
#include "fleet/row_text.h"
#include "fleet/row_warnings.h"
#include "fleet/shown_text.h"

namespace fleet {
namespace {

const std::vector<std::string> TABLE_TITLES = {"INPUT",   "KIT",             "PRODUCT",
                                               "BIOS VERSION", "OUTCOME", "SEGMENT OUTCOME",
                                               "WARNINGS"};

struct TableForm {
  std::ostream *out;
  std::vector<KitInfo> kits;
  bool records = false;
  size_t rows = 0;
  size_t errors = 0;
  size_t repeats = 0;  // rows of a machine an earlier row holds: listed, not counted
  // The first rows, until the columns are sized.
  std::vector<std::vector<std::string>> sample;
  std::vector<size_t> widths;
  bool sized = false;
  std::map<std::string, size_t> outcomes, segment_outcomes, messages, warnings;
  // Per kit (index into kits): machines it serves, per ScriptsOutcome, and
  // per rollout state.
  std::vector<size_t> kit_machines;
  std::vector<std::map<std::string, size_t>> kit_outcomes;
  std::vector<std::map<std::string, size_t>> kit_states;
  size_t without_kit = 0;
};

// Columns a UTF-8 text takes: one per character.
size_t Width(const std::string &text) {
  size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

void PrintCounts(std::ostream &out, const char *title, const std::map<std::string, size_t> &counts,
                 bool with_meaning = false) {
  out << title << "\n";
  if (counts.empty()) {
    out << "  (none)\n";
    return;
  }
  std::vector<std::pair<std::string, size_t>> sorted(counts.begin(), counts.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto &a, const auto &b) { return a.second > b.second; });
  for (const auto &entry : sorted) {
    std::string count = std::to_string(entry.second);
    out << "  " << std::string(count.size() < 6 ? 6 - count.size() : 0, ' ') << count << "  "
        << Cell(entry.first);
    if (with_meaning) out << ": " << WarningMeaning(entry.first);
    out << "\n";
  }
}

void PrintTableRow(TableForm *form, const std::vector<std::string> &cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    line += cells[i];
    if (i + 1 < cells.size()) {
      size_t width = Width(cells[i]);
      line += std::string((width < form->widths[i] ? form->widths[i] - width : 0) + 2, ' ');
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  *form->out << line << "\n";
}

void FlushSample(TableForm *form) {
  form->widths.assign(TABLE_TITLES.size() + (form->records ? 1 : 0), 0);
  for (const auto &cells : form->sample) {
    for (size_t i = 0; i < cells.size(); ++i) form->widths[i] = std::max(form->widths[i], Width(cells[i]));
  }
  form->sized = true;
  for (const auto &cells : form->sample) PrintTableRow(form, cells);
  form->sample.clear();
  form->sample.shrink_to_fit();
}

void CountKits(TableForm *form, const FleetRow &row) {
  if (row.kits.empty()) ++form->without_kit;
  for (const KitRuns &runs : row.kits) {
    for (size_t i = 0; i < form->kits.size(); ++i) {
      if (form->kits[i].folder != runs.kit) continue;
      ++form->kit_machines[i];
      ++form->kit_outcomes[i][ScriptsOutcome(runs.run)];
      if (form->records && row.kits.size() == 1) {
        ++form->kit_states[i][row.rollout.empty() ? "other" : row.rollout];
      }
      break;
    }
  }
}

void PrintKitSummary(const TableForm &form, const FormEnd &end) {
  std::ostream &out = *form.out;
  out << "Machines per kit (outcome with the kit's options):\n";
  for (size_t i = 0; i < form.kits.size(); ++i) {
    const KitInfo &kit = form.kits[i];
    out << "  " << Cell(kit.folder) << " (ProductName="
        << (kit.has_product_name ? Cell(kit.product_name) : "-")
        << ", Version=" << (kit.has_version ? Cell(kit.version) : "-")
        << (kit.identity.empty() ? "" : ", kit " + kit.identity.substr(0, 4) + "..." +
                                            kit.identity.substr(62))
        << (kit.has_sums && !kit.sums_intact ? ", does not match its " KIT_SUMS_NAME : "")
        << "): " << form.kit_machines[i]
        << (form.kit_machines[i] == 1 ? " machine" : " machines");
    // The three outcomes always, so a kit's line reads the same on every report.
    std::map<std::string, size_t> outcomes = form.kit_outcomes[i];
    for (const char *outcome : {UPDATE_SCRIPT_OLD_NAME, UPDATE_SCRIPT_NEW_NAME, NO_SCRIPT}) {
      out << ", " << outcomes[outcome] << " " << outcome;
      outcomes.erase(outcome);
    }
    for (const auto &other : outcomes) out << ", " << other.second << " " << other.first;
    out << "\n";
  }
  out << "Machines without a kit: " << form.without_kit << "\n";
  if (!form.records) return;
  // The four states always, so each kit's line reads the same.
  out << "Rollout per kit (from the records):\n";
  std::map<std::string, size_t> totals;
  for (size_t i = 0; i < form.kits.size(); ++i) {
    std::map<std::string, size_t> states = form.kit_states[i];
    out << "  " << Cell(form.kits[i].folder) << ":";
    const char *separator = " ";
    for (const char *state : ROLLOUT_STATES) {
      out << separator << states[state] << " " << state;
      totals[state] += states[state];
      separator = ", ";
    }
    if (states["other"] != 0) out << ", " << states["other"] << " other";
    totals["other"] += states["other"];
    out << "\n";
  }
  out << "  all kits:";
  const char *separator = " ";
  for (const char *state : ROLLOUT_STATES) {
    out << separator << totals[state] << " " << state;
    separator = ", ";
  }
  if (totals["other"] != 0) out << ", " << totals["other"] << " other";
  out << "\n";
  out << "Records matching no machine: " << end.unmatched_count << "\n";
  for (const std::string &line : end.unmatched) out << "  " << Cell(line) << "\n";
}

void *Begin(const FormStart &start) {
  TableForm *form = new TableForm;
  form->out = start.out;
  form->kits = start.kits;
  form->records = start.records;
  form->kit_machines.resize(start.kits.size());
  form->kit_outcomes.resize(start.kits.size());
  form->kit_states.resize(start.kits.size());
  form->sample.push_back(TABLE_TITLES);
  if (form->records) form->sample.back().push_back("ROLLOUT");
  return form;
}

void Add(void *state, const FleetRow &row) {
  TableForm *form = static_cast<TableForm *>(state);
  // A machine another row holds already is listed, and counted once.
  bool counted = row.same_as.empty();
  form->rows += counted;
  form->repeats += !counted;
  bool failed = !row.error.empty();
  form->errors += failed && counted;
  std::vector<std::string> cells;
  if (failed) {
    cells = {Cell(row.input), "-", "-", "-", Cell("error: " + row.error), "-", ""};
    if (form->records) cells.push_back("-");
    if (counted) ++form->outcomes["error: not SMBIOS data, or unreadable"];
  } else {
    std::string outcome = RowOutcome(row, false), segment_outcome = RowOutcome(row, true);
    cells = {Cell(row.input), row.kits.empty() ? "-" : Cell(KitsText(row)),
             row.facts.has_product ? Cell(row.facts.product) : "-",
             FirstBios(row.facts).has_field_string ? Cell(FirstBios(row.facts).field_string) : "-",
             outcome, segment_outcome,
             JoinTexts(DistinctWarningKeys(row), ", ")};
    if (form->records) cells.push_back(row.rollout.empty() ? "-" : row.rollout);
    if (!counted) ++form->warnings["same-machine"];
  }
  if (!failed && counted) {
    ++form->outcomes[RowOutcome(row, false)];
    ++form->segment_outcomes[RowOutcome(row, true)];
    std::set<std::string> messages(row.run.messages.begin(), row.run.messages.end());
    messages.insert(row.segments.messages.begin(), row.segments.messages.end());
    for (const std::string &message : messages) ++form->messages[message];
    for (const std::string &key : DistinctWarningKeys(row)) ++form->warnings[key];
    CountKits(form, row);
  }
  if (form->sized) {
    PrintTableRow(form, cells);
  } else {
    form->sample.push_back(cells);
    if (form->sample.size() > TABLE_SAMPLE_ROWS) FlushSample(form);
  }
}

void Finish(void *state, const FormEnd &end) {
  TableForm *form = static_cast<TableForm *>(state);
  std::ostream &out = *form->out;
  if (!form->sized) FlushSample(form);
  out << "\nMachines: " << form->rows;
  if (form->errors) out << " (" << form->errors << " not SMBIOS data, or unreadable)";
  if (form->repeats) {
    out << "; " << form->repeats
        << (form->repeats == 1 ? " input repeats a machine" : " inputs repeat a machine");
  }
  out << "\n";
  PrintKitSummary(*form, end);
  PrintCounts(out, "Machines per outcome with the kit's options:", form->outcomes);
  PrintCounts(out, "Machines per outcome with -segments:", form->segment_outcomes);
  PrintCounts(out, "Machines per message (either run):", form->messages);
  PrintCounts(out, "Machines per warning:", form->warnings, true);
}

void Release(void *state) { delete static_cast<TableForm *>(state); }

}  // namespace

const ReportForm TABLE_FORM = {Begin, Add, Finish, Release};

}  // namespace fleet
