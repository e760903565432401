// A row as one JSON object, and the same object in CBOR between processes.
// nlohmann-json's dump replaces bytes that are not UTF-8 (SMBIOS strings
// are whatever the firmware vendor wrote); CBOR keeps every byte. Reading
// back is lenient where a member is optional and strict where the row
// would be wrong without it.
#include "fleet/row_codec.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "fleet/row_text.h"
#include "fleet/row_warnings.h"

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

Json RowJson(const FleetRow &row) {
  Json json = Json::object();
  json["input"] = row.input;
  if (!row.error.empty()) {
    json["error"] = row.error;
  } else {
    const MachineFacts &facts = row.facts;
    const BiosVersionFacts &bios = FirstBios(facts);
    json["manufacturer"] = OptionalText(facts.has_manufacturer, facts.manufacturer);
    json["product"] = OptionalText(facts.has_product, facts.product);
    json["serial"] = OptionalText(facts.has_serial, facts.serial);
    json["sku"] = OptionalText(facts.has_sku, facts.sku);
    json["uuid"] = OptionalText(facts.has_uuid, facts.uuid);
    json["bios_version"] = OptionalText(bios.has_field_string, bios.field_string);
    json["string2"] = OptionalText(bios.has_string2, bios.string2);
    // The fields as the IDs take them, and the IDs by number; absent ones
    // are left out.
    Json fields = Json::object();
    Json ids = Json::object();
    for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
      if (facts.has_hwid_field[i]) fields[HardwareIdFieldName(i)] = facts.hwid_field[i];
    }
    for (int i = 0; i < HARDWARE_ID_COUNT; ++i) {
      if (facts.hardware_ids.Present[i]) ids[HardwareIdName(i)] = HardwareIdText(facts.hardware_ids, i);
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
    json["warnings"] = WarningSentences(row);
    json["warning_keys"] = WarningKeys(row);
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
  MachineFacts &facts = row->facts;
  ReadOptional(json, "manufacturer", &facts.has_manufacturer, &facts.manufacturer);
  ReadOptional(json, "product", &facts.has_product, &facts.product);
  ReadOptional(json, "serial", &facts.has_serial, &facts.serial);
  ReadOptional(json, "sku", &facts.has_sku, &facts.sku);
  ReadOptional(json, "uuid", &facts.has_uuid, &facts.uuid);
  BiosVersionFacts bios;
  ReadOptional(json, "bios_version", &bios.has_field_string, &bios.field_string);
  ReadOptional(json, "string2", &bios.has_string2, &bios.string2);
  if (bios.has_field_string || bios.has_string2) facts.bios.push_back(bios);
  const Json none = Json::object();
  const Json &fields = json.contains("hardware_id_fields") ? json["hardware_id_fields"] : none;
  const Json &ids = json.contains("hardware_ids") ? json["hardware_ids"] : none;
  for (int i = 0; i < HWID_FIELD_COUNT && fields.is_object(); ++i) {
    ReadOptional(fields, HardwareIdFieldName(i), &facts.has_hwid_field[i], &facts.hwid_field[i]);
  }
  for (int i = 0; i < HARDWARE_ID_COUNT && ids.is_object(); ++i) {
    std::string text;
    bool has = false;
    ReadOptional(ids, HardwareIdName(i).c_str(), &has, &text);
    facts.hardware_ids.Present[i] =
        has && ParseHardwareId(text.data(), text.size(), facts.hardware_ids.Id[i]);
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

}  // namespace fleet
