// Writing the fleet report. The json form goes through nlohmann-json, whose
// dump replaces bytes that are not UTF-8 (SMBIOS strings are whatever the
// firmware vendor wrote); the table shows control bytes as \xHH so a
// string from the data cannot drive the terminal.
#include "fleet/report_format.h"

#include "fleet/rollout_records.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <nlohmann/json.hpp>


namespace fleet {
namespace {

using Json = nlohmann::ordered_json;

Json OptionalText(bool has, const std::string &text) { return has ? Json(text) : Json(nullptr); }

Json RunToJson(const RunOutcome &outcome) {
  Json run = Json::object();
  run["scripts"] = outcome.scripts;
  run["messages"] = outcome.messages;
  run["status"] = StatusText(outcome.status);
  run["efi_status"] = outcome.status;  // the whole value, error bit included
  return run;
}

// The kit a row names: its folder; a list when several serve the machine;
// null when none does.
Json KitToJson(const FleetRow &row) {
  if (row.kits.empty()) return nullptr;
  if (row.kits.size() == 1) return row.kits.front().kit;
  Json kits = Json::array();
  for (const KitRuns &runs : row.kits) kits.push_back(runs.kit);
  return kits;
}

Json RecordToJson(const RecordSummary &record) {
  Json json = Json::object();
  json["where"] = record.where;
  json["time"] = OptionalText(record.has_time, record.time);
  json["script"] = OptionalText(record.has_script, record.script);
  json["ran"] = record.ran;
  json["status"] = record.status;
  json["message"] = OptionalText(record.has_message, record.message);
  json["kit_sha256"] = OptionalText(record.has_kit_sha256, record.kit_sha256);
  return json;
}

void ReadOptional(const Json &json, const char *key, bool *has, std::string *text);

void RecordFromJson(const Json &json, RecordSummary *record) {
  bool has = false;
  ReadOptional(json, "where", &has, &record->where);
  ReadOptional(json, "time", &record->has_time, &record->time);
  ReadOptional(json, "script", &record->has_script, &record->script);
  record->ran = json.value("ran", false);
  ReadOptional(json, "status", &has, &record->status);
  ReadOptional(json, "message", &record->has_message, &record->message);
  ReadOptional(json, "kit_sha256", &record->has_kit_sha256, &record->kit_sha256);
}

bool RunFromJson(const Json &json, RunOutcome *outcome) {
  if (!json.is_object() || !json.contains("status") || !json["status"].is_string()) return false;
  outcome->scripts = json.value("scripts", std::vector<std::string>());
  outcome->messages = json.value("messages", std::vector<std::string>());
  // The text leaves out the error bit; the number beside it keeps it.
  if (json.contains("efi_status") && json["efi_status"].is_number_unsigned()) {
    outcome->status = json["efi_status"].get<EFI_STATUS>();
  } else {
    outcome->status = std::strtoull(json["status"].get<std::string>().c_str(), nullptr, 16);
  }
  return true;
}

void ReadOptional(const Json &json, const char *key, bool *has, std::string *text) {
  *has = json.contains(key) && json[key].is_string();
  *text = *has ? json[key].get<std::string>() : std::string();
}

std::string Join(const std::vector<std::string> &items, const char *separator) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i ? separator : "") + items[i];
  return text;
}

std::vector<std::string> Sentences(const FleetRow &row) {
  std::vector<std::string> sentences;
  for (const Warning &warning : row.warnings) sentences.push_back(warning.sentence);
  return sentences;
}

std::vector<std::string> Keys(const FleetRow &row) {
  std::vector<std::string> keys;
  for (const Warning &warning : row.warnings) keys.push_back(warning.key);
  return keys;
}

// Each key once, in order of appearance: the table's cell and the summary
// count machines, not structures.
std::vector<std::string> DistinctKeys(const FleetRow &row) {
  std::vector<std::string> keys;
  for (const Warning &warning : row.warnings) {
    if (std::find(keys.begin(), keys.end(), warning.key) == keys.end()) keys.push_back(warning.key);
  }
  return keys;
}

}  // namespace

// Control characters (C0, DEL and the C1 range U+0080..U+009F, whose CSI
// and OSC a terminal obeys as it obeys ESC [) as \xHH, so a string from the
// data cannot move the cursor or recolour the terminal, nor hide on the
// page; a byte that begins no UTF-8 character as U+FFFD, as in the json
// and csv forms, so the cell is always UTF-8.
std::string Cell(const std::string &text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string cell;
  auto escape = [&](unsigned char c) {
    cell += "\\x";
    cell += HEX[c >> 4];
    cell += HEX[c & 0xF];
  };
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = Utf8Length(text, i);
    if (length == 0) {
      cell += "\xEF\xBF\xBD";  // U+FFFD, as every form shows a byte that begins no character
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      escape(c);
      ++i;
    } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      escape(static_cast<unsigned char>(text[i + 1]));  // U+0080..U+009F
      i += 2;
    } else {
      cell.append(text, i, length);
      i += length;
    }
  }
  return cell;
}

std::string ValidUtf8(const std::string &text) {
  std::string valid;
  for (size_t i = 0; i < text.size();) {
    size_t length = Utf8Length(text, i);
    if (length == 0) {
      valid += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    } else {
      valid.append(text, i, length);
      i += length;
    }
  }
  return valid;
}

std::string CsvField(const std::string &text) {
  // Control bytes as the table shows them: a NUL or an ESC from a record
  // or the data would otherwise reach whatever opens the file, raw.
  std::string field = Cell(text);
  if (field.empty()) return field;
  // A spreadsheet reads a cell that begins with one of these as a formula.
  // A leading '-' is left alone unless a call or a link could follow it:
  // BIOS versions such as "-[A3E148AUS-1.07]-" begin with one and are text
  // to every spreadsheet, and arithmetic alone reaches nothing outside.
  char first = field.front();
  bool formula = first == '=' || first == '+' || first == '@' || first == '\t' || first == '\r' ||
                 (first == '-' && field.find_first_of("(|!=+@") != std::string::npos);
  return formula ? "'" + field : field;
}

namespace {

// Columns a UTF-8 text takes: one per character.
size_t Width(const std::string &text) {
  size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

const std::vector<std::string> TABLE_TITLES = {"INPUT",   "KIT",             "PRODUCT",
                                               "BIOS VERSION", "OUTCOME", "SEGMENT OUTCOME",
                                               "WARNINGS"};

const std::vector<std::string> CSV_TITLES = {
    "input",           "kit",             "manufacturer",    "product",          "serial",
    "sku",             "uuid",            "bios_version",    "string2",
    "family",          "baseboard_manufacturer", "baseboard_product", "hardware_ids", "scripts",
    "messages",        "status",          "segments_scripts", "segments_messages", "segments_status",
    "warnings",        "rollout",         "record",          "record_time",      "record_script",
    "record_ran",      "record_message",  "error"};

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

}  // namespace

namespace {

// The present IDs, "HardwareID-0=...; HardwareID-1=...", for a CSV cell.
std::string IdsText(const FleetRow &row) {
  std::string text;
  for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
    if (!row.hardware_ids.Present[i]) continue;
    text += (text.empty() ? "" : "; ") + HardwareIdName(i) + "=" + HardwareIdText(row.hardware_ids, i);
  }
  return text;
}

Json RowJson(const FleetRow &row) {
  Json json = Json::object();
  json["input"] = row.input;
  if (!row.error.empty()) {
    json["error"] = row.error;
  } else {
    json["manufacturer"] = OptionalText(row.has_manufacturer, row.manufacturer);
    json["product"] = OptionalText(row.has_product, row.product);
    json["serial"] = OptionalText(row.has_serial, row.serial);
    json["sku"] = OptionalText(row.has_sku, row.sku);
    json["uuid"] = OptionalText(row.has_uuid, row.uuid);
    json["bios_version"] = OptionalText(row.has_bios_version, row.bios_version);
    json["string2"] = OptionalText(row.has_string2, row.string2);
    // The fields as the IDs take them, and the IDs by number; absent ones
    // are left out.
    Json fields = Json::object();
    Json ids = Json::object();
    for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
      if (row.has_hwid_field[i]) fields[HardwareIdFieldName(i)] = row.hwid_field[i];
    }
    for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
      if (row.hardware_ids.Present[i]) ids[HardwareIdName(i)] = HardwareIdText(row.hardware_ids, i);
    }
    json["hardware_id_fields"] = fields;
    json["hardware_ids"] = ids;
    json["kit"] = KitToJson(row);
    json["kit_sha256"] = OptionalText(!row.kit_sha256.empty(), row.kit_sha256);
    // One kit: its two runs, as before there were several kits. None or
    // several: no one outcome; several list each kit's under "runs".
    bool one = row.kits.size() == 1;
    json["scripts"] = one ? row.run.scripts : std::vector<std::string>();
    json["messages"] = one ? row.run.messages : std::vector<std::string>();
    json["status"] = one ? Json(StatusText(row.run.status)) : Json(nullptr);
    json["efi_status"] = one ? Json(row.run.status) : Json(nullptr);
    json["segments"] = one ? RunToJson(row.segments) : Json(nullptr);
    if (row.kits.size() > 1) {
      Json runs = Json::array();
      for (const KitRuns &kit : row.kits) {
        Json run = RunToJson(kit.run);
        run["segments"] = RunToJson(kit.segments);
        runs.push_back(Json{{"kit", kit.kit}});
        runs.back().update(run);
      }
      json["runs"] = runs;
    }
    json["warnings"] = Sentences(row);
    json["warning_keys"] = Keys(row);
    json["rollout"] = row.rollout.empty() ? Json(nullptr) : Json(row.rollout);
    json["record"] = row.has_record ? RecordToJson(row.record) : Json(nullptr);
  }
  return json;
}

bool RowFromJsonValue(const Json &json, FleetRow *row) {
  if (json.is_discarded() || !json.is_object() || !json.contains("input") ||
      !json["input"].is_string()) {
    return false;
  }
  *row = FleetRow();
  row->input = json["input"].get<std::string>();
  if (json.contains("error")) {
    row->error = json["error"].is_string() ? json["error"].get<std::string>() : "?";
    return true;
  }
  ReadOptional(json, "manufacturer", &row->has_manufacturer, &row->manufacturer);
  ReadOptional(json, "product", &row->has_product, &row->product);
  ReadOptional(json, "serial", &row->has_serial, &row->serial);
  ReadOptional(json, "sku", &row->has_sku, &row->sku);
  ReadOptional(json, "uuid", &row->has_uuid, &row->uuid);
  ReadOptional(json, "bios_version", &row->has_bios_version, &row->bios_version);
  ReadOptional(json, "string2", &row->has_string2, &row->string2);
  const Json none = Json::object();
  const Json &fields = json.contains("hardware_id_fields") ? json["hardware_id_fields"] : none;
  const Json &ids = json.contains("hardware_ids") ? json["hardware_ids"] : none;
  for (int i = 0; i < HWID_FIELD_COUNT && fields.is_object(); ++i) {
    ReadOptional(fields, HardwareIdFieldName(i), &row->has_hwid_field[i], &row->hwid_field[i]);
  }
  for (int i = 0; i < HARDWARE_ID_COUNT && ids.is_object(); ++i) {
    std::string text;
    bool has = false;
    ReadOptional(ids, HardwareIdName(i).c_str(), &has, &text);
    row->hardware_ids.Present[i] =
        has && ParseHardwareId(text.data(), text.size(), row->hardware_ids.Id[i]);
  }
  bool has_kit_sha256 = false;
  ReadOptional(json, "kit_sha256", &has_kit_sha256, &row->kit_sha256);
  if (json.contains("runs") && json["runs"].is_array()) {
    for (const Json &run : json["runs"]) {
      KitRuns kit;
      if (!run.is_object() || !run.contains("kit") || !run["kit"].is_string() ||
          !RunFromJson(run, &kit.run) || !run.contains("segments") ||
          !RunFromJson(run["segments"], &kit.segments)) {
        return false;
      }
      kit.kit = run["kit"].get<std::string>();
      row->kits.push_back(kit);
    }
  } else if (json.contains("kit") && json["kit"].is_string()) {
    KitRuns kit;
    kit.kit = json["kit"].get<std::string>();
    if (!RunFromJson(json, &kit.run) || !json.contains("segments") ||
        !RunFromJson(json["segments"], &kit.segments)) {
      return false;
    }
    row->kits.push_back(kit);
  }
  if (!row->kits.empty()) {
    row->run = row->kits.front().run;
    row->segments = row->kits.front().segments;
  }
  std::vector<std::string> sentences = json.value("warnings", std::vector<std::string>());
  std::vector<std::string> keys = json.value("warning_keys", std::vector<std::string>());
  for (size_t i = 0; i < sentences.size(); ++i) {
    row->warnings.push_back(Warning{i < keys.size() ? keys[i] : "", sentences[i]});
  }
  bool has_rollout = false;
  ReadOptional(json, "rollout", &has_rollout, &row->rollout);
  if (json.contains("record") && json["record"].is_object()) {
    row->has_record = true;
    RecordFromJson(json["record"], &row->record);
  }
  return true;
}

}  // namespace

std::string RowToJson(const FleetRow &row) {
  return RowJson(row).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A text of the right syntax may still hold members of the wrong types:
// such a row is refused, never the end of the report.
bool RowFromJson(const std::string &text, FleetRow *row) {
  try {
    return RowFromJsonValue(Json::parse(text, nullptr, false), row);
  } catch (const Json::exception &) {
    return false;
  }
}

std::string RowToTransport(const FleetRow &row) {
  std::vector<uint8_t> bytes = Json::to_cbor(RowJson(row));
  return std::string(bytes.begin(), bytes.end());
}

bool RowFromTransport(const std::string &bytes, FleetRow *row) {
  try {
    return RowFromJsonValue(Json::from_cbor(bytes, true, false), row);
  } catch (const Json::exception &) {
    return false;
  }
}

std::string CsvRecord(const std::vector<std::string> &fields) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) record += ',';
    const std::string field = CsvField(fields[i]);
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      record += field;
      continue;
    }
    record += '"';
    for (char c : field) {
      if (c == '"') record += '"';
      record += c;
    }
    record += '"';
  }
  return record;
}

// The kits of a row, as the CSV and the table show them.
std::string KitsText(const FleetRow &row) {
  std::vector<std::string> kits;
  for (const KitRuns &runs : row.kits) kits.push_back(runs.kit);
  return Join(kits, "; ");
}

// A row's outcome in the table: the one kit's run, or why there is none.
std::string RowOutcome(const FleetRow &row, bool segments) {
  if (row.kits.empty()) return "no kit";
  if (row.kits.size() > 1) return "several kits";
  return OutcomeText(segments ? row.segments : row.run);
}

const std::vector<std::string> &CsvTitles() { return CSV_TITLES; }

std::vector<std::string> CsvFields(const FleetRow &row) {
  if (!row.error.empty()) {
    std::vector<std::string> fields(CSV_TITLES.size());
    fields.front() = row.input;
    fields.back() = row.error;
    return fields;
  }
  // The runs' columns hold the one kit's runs; with none or several they
  // stay empty (several: each kit's outcome is in its warning).
  std::vector<std::string> runs(6);
  if (row.kits.size() == 1) {
    runs = {Join(row.run.scripts, "; "),      Join(row.run.messages, "; "),
            StatusText(row.run.status),       Join(row.segments.scripts, "; "),
            Join(row.segments.messages, "; "), StatusText(row.segments.status)};
  }
  std::vector<std::string> fields = {row.input,   KitsText(row), row.manufacturer,
                                     row.product, row.serial,    row.sku,
                                     row.uuid,    row.bios_version, row.string2,
                                     row.hwid_field[HWID_FAMILY],
                                     row.hwid_field[HWID_BASEBOARD_MANUFACTURER],
                                     row.hwid_field[HWID_BASEBOARD_PRODUCT], IdsText(row)};
  fields.insert(fields.end(), runs.begin(), runs.end());
  fields.push_back(Join(Sentences(row), "; "));
  fields.push_back(row.rollout);
  const RecordSummary &record = row.record;
  bool has = row.has_record;
  std::vector<std::string> recorded = {has ? record.where : "", has ? record.time : "",
                                       has ? record.script : "",
                                       has ? (record.ran ? "true" : "false") : "",
                                       has ? record.message : ""};
  fields.insert(fields.end(), recorded.begin(), recorded.end());
  fields.push_back("");
  return fields;
}

void ReportWriter::SetPageHeader(const PageHeader &header) {
  if (page_) page_->SetHeader(header);
}

ReportWriter::ReportWriter(Format format, std::ostream &out, const std::vector<KitInfo> &kits,
                           bool records)
    : format_(format),
      out_(out),
      kits_(kits),
      kit_machines_(kits.size()),
      kit_outcomes_(kits.size()),
      records_(records),
      kit_states_(kits.size()) {
  if (format_ == Format::Html) page_ = std::make_unique<PageWriter>(kits, out_, records);
  if (format_ == Format::Json) out_ << "[";
  if (format_ == Format::Csv) out_ << CsvRecord(CSV_TITLES) << "\r\n";
  if (format_ == Format::Table) {
    sample_.push_back(TABLE_TITLES);
    if (records_) sample_.back().push_back("ROLLOUT");
  }
}

void ReportWriter::SetUnmatched(const std::vector<std::string> &unmatched, size_t count) {
  unmatched_ = unmatched;
  unmatched_count_ = count;
  if (page_) page_->SetUnmatched(unmatched, count);
}

void ReportWriter::Add(const FleetRow &row) {
  // A machine another row holds already is listed, and counted once.
  bool counted = row.same_as.empty();
  rows_ += counted;
  repeats_ += !counted;
  bool failed = !row.error.empty();
  errors_ += failed && counted;
  if (format_ == Format::Html) {
    page_->Add(row);
  } else if (format_ == Format::Json) {
    out_ << (rows_ + repeats_ == 1 ? "\n" : ",\n") << RowToJson(row);
  } else if (format_ == Format::Csv) {
    out_ << CsvRecord(CsvFields(row)) << "\r\n";
  } else {
    std::vector<std::string> cells;
    if (failed) {
      cells = {Cell(row.input), "-", "-", "-", Cell("error: " + row.error), "-", ""};
      if (records_) cells.push_back("-");
      if (counted) ++outcomes_["error: not SMBIOS data, or unreadable"];
    } else {
      std::string outcome = RowOutcome(row, false), segment_outcome = RowOutcome(row, true);
      cells = {Cell(row.input), row.kits.empty() ? "-" : Cell(KitsText(row)),
               row.has_product ? Cell(row.product) : "-",
               row.has_bios_version ? Cell(row.bios_version) : "-", outcome, segment_outcome,
               Join(DistinctKeys(row), ", ")};
      if (records_) cells.push_back(row.rollout.empty() ? "-" : row.rollout);
      if (!counted) ++warnings_["same-machine"];
    }
    if (!failed && counted) {
      std::string outcome = RowOutcome(row, false), segment_outcome = RowOutcome(row, true);
      ++outcomes_[outcome];
      ++segment_outcomes_[segment_outcome];
      std::set<std::string> messages(row.run.messages.begin(), row.run.messages.end());
      messages.insert(row.segments.messages.begin(), row.segments.messages.end());
      for (const std::string &message : messages) ++messages_[message];
      for (const std::string &key : DistinctKeys(row)) ++warnings_[key];
      CountKits(row);
    }
    if (sized_) {
      PrintTableRow(cells);
    } else {
      sample_.push_back(cells);
      if (sample_.size() > TABLE_SAMPLE_ROWS) FlushSample();
    }
  }
  out_.flush();
}

void ReportWriter::CountKits(const FleetRow &row) {
  if (row.kits.empty()) ++without_kit_;
  for (const KitRuns &runs : row.kits) {
    for (size_t i = 0; i < kits_.size(); ++i) {
      if (kits_[i].folder != runs.kit) continue;
      ++kit_machines_[i];
      ++kit_outcomes_[i][ScriptsOutcome(runs.run)];
      if (records_ && row.kits.size() == 1) ++kit_states_[i][row.rollout.empty() ? "other" : row.rollout];
      break;
    }
  }
}

void ReportWriter::PrintKitSummary() {
  out_ << "Machines per kit (outcome with the kit's options):\n";
  for (size_t i = 0; i < kits_.size(); ++i) {
    const KitInfo &kit = kits_[i];
    out_ << "  " << Cell(kit.folder) << " (ProductName="
         << (kit.has_product_name ? Cell(kit.product_name) : "-")
         << ", Version=" << (kit.has_version ? Cell(kit.version) : "-")
         << (kit.identity.empty() ? "" : ", kit " + kit.identity.substr(0, 4) + "..." +
                                             kit.identity.substr(62))
         << (kit.has_sums && !kit.sums_intact ? ", does not match its SHA256SUMS" : "")
         << "): " << kit_machines_[i]
         << (kit_machines_[i] == 1 ? " machine" : " machines");
    // The three outcomes always, so a kit's line reads the same on every report.
    std::map<std::string, size_t> outcomes = kit_outcomes_[i];
    for (const char *outcome : {"UpdateHWOld.nsh", "UpdateHWNew.nsh", "no script"}) {
      out_ << ", " << outcomes[outcome] << " " << outcome;
      outcomes.erase(outcome);
    }
    for (const auto &other : outcomes) out_ << ", " << other.second << " " << other.first;
    out_ << "\n";
  }
  out_ << "Machines without a kit: " << without_kit_ << "\n";
  if (!records_) return;
  // The four states always, so each kit's line reads the same.
  out_ << "Rollout per kit (from the records):\n";
  std::map<std::string, size_t> totals;
  for (size_t i = 0; i < kits_.size(); ++i) {
    std::map<std::string, size_t> states = kit_states_[i];
    out_ << "  " << Cell(kits_[i].folder) << ":";
    const char *separator = " ";
    for (const char *state : ROLLOUT_STATES) {
      out_ << separator << states[state] << " " << state;
      totals[state] += states[state];
      separator = ", ";
    }
    if (states["other"] != 0) out_ << ", " << states["other"] << " other";
    totals["other"] += states["other"];
    out_ << "\n";
  }
  out_ << "  all kits:";
  const char *separator = " ";
  for (const char *state : ROLLOUT_STATES) {
    out_ << separator << totals[state] << " " << state;
    separator = ", ";
  }
  if (totals["other"] != 0) out_ << ", " << totals["other"] << " other";
  out_ << "\n";
  out_ << "Records matching no machine: " << unmatched_count_ << "\n";
  for (const std::string &line : unmatched_) out_ << "  " << Cell(line) << "\n";
}

void ReportWriter::FlushSample() {
  widths_.assign(TABLE_TITLES.size() + (records_ ? 1 : 0), 0);
  for (const auto &cells : sample_) {
    for (size_t i = 0; i < cells.size(); ++i) widths_[i] = std::max(widths_[i], Width(cells[i]));
  }
  sized_ = true;
  for (const auto &cells : sample_) PrintTableRow(cells);
  sample_.clear();
  sample_.shrink_to_fit();
}

void ReportWriter::PrintTableRow(const std::vector<std::string> &cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    line += cells[i];
    if (i + 1 < cells.size()) {
      size_t width = Width(cells[i]);
      line += std::string((width < widths_[i] ? widths_[i] - width : 0) + 2, ' ');
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out_ << line << "\n";
}

void ReportWriter::Finish() {
  if (format_ == Format::Html) page_->Finish();
  if (format_ == Format::Json) out_ << (rows_ + repeats_ == 0 ? "]\n" : "\n]\n");
  if (format_ == Format::Table) {
    if (!sized_) FlushSample();
    out_ << "\nMachines: " << rows_;
    if (errors_) out_ << " (" << errors_ << " not SMBIOS data, or unreadable)";
    if (repeats_) out_ << "; " << repeats_ << (repeats_ == 1 ? " input repeats a machine" : " inputs repeat a machine");
    out_ << "\n";
    PrintKitSummary();
    PrintCounts(out_, "Machines per outcome with the kit's options:", outcomes_);
    PrintCounts(out_, "Machines per outcome with -segments:", segment_outcomes_);
    PrintCounts(out_, "Machines per message (either run):", messages_);
    PrintCounts(out_, "Machines per warning:", warnings_, true);
  }
  out_.flush();
}

}  // namespace fleet
