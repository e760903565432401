// Reading one run record. A stick that was pulled or lost power mid-write
// may hold a cut line, and a records file may come from anywhere: a line is
// parsed on its own, and one that is not a record is refused with what is
// wrong, never taken for part of another.
#include "fleet/run_record.h"

#include <nlohmann/json.hpp>

namespace fleet {
namespace {

using Json = nlohmann::json;

// Reads an optional text key: absent or null leaves *has false; a value of
// another type makes the line no record.
bool OptionalText(const Json &json, const char *key, bool *has, std::string *text,
                  std::string *why) {
  *has = false;
  auto it = json.find(key);
  if (it == json.end() || it->is_null()) return true;
  if (!it->is_string()) {
    *why = std::string("\"") + key + "\" is neither a text nor null";
    return false;
  }
  *has = true;
  *text = it->get<std::string>();
  return true;
}

std::string TrimTrailingBlanks(const std::string &text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(0, end);
}

std::string Lower(std::string text) {
  for (char &c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

bool Digits(const std::string &text, size_t at, size_t count, int *value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

// Days from 1970-01-01 to the date, proleptic Gregorian.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool RecordInstant(const std::string &time, int64_t *seconds) {
  // YYYY-MM-DDTHH:MM:SS, as the image writes it.
  int year, month, day, hour, minute, second;
  if (time.size() < 19 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':' ||
      time[16] != ':' || !Digits(time, 0, 4, &year) || !Digits(time, 5, 2, &month) ||
      !Digits(time, 8, 2, &day) || !Digits(time, 11, 2, &hour) || !Digits(time, 14, 2, &minute) ||
      !Digits(time, 17, 2, &second) || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  int offset = 0;  // minutes east of UTC
  std::string zone = time.substr(19);
  if (zone == "Z" || zone.empty()) {
    offset = 0;
  } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    int hours, minutes;
    if (!Digits(zone, 1, 2, &hours) || !Digits(zone, 4, 2, &minutes) || minutes > 59) return false;
    offset = (hours * 60 + minutes) * (zone[0] == '-' ? -1 : 1);
  } else {
    return false;
  }
  *seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
             hour * 3600 + minute * 60 + second - offset * 60;
  return true;
}

bool SerialTellsMachinesApart(const std::string &serial) {
  static const char *const PLACEHOLDERS[] = {
      "to be filled by o.e.m.", "default string", "system serial number", "chassis serial number",
      "serial number", "not specified", "not applicable", "not available", "none", "n/a", "na",
      "unknown", "empty", "0123456789", "123456789", "1234567890", "invalid"};
  std::string text = Lower(TrimTrailingBlanks(serial));
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  text = text.substr(start);
  if (text.find_first_not_of(text[0]) == std::string::npos) return false;  // "0000", "xxxx"
  for (const char *placeholder : PLACEHOLDERS) {
    if (text == placeholder) return false;
  }
  return true;
}

bool SwappedUuids(const std::string &a, const std::string &b) {
  // 8-4-4-4-12: the first three fields' bytes in the other order.
  static const int SWAPPED[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  auto bytes = [](const std::string &text, std::string *out) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < 36; ++i) {
      bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash ? text[i] != '-' : !IsHex(text[i])) return false;
      if (!dash) out->push_back(static_cast<char>(text[i] | 0x20));
    }
    return true;
  };
  std::string x, y;
  if (!bytes(a, &x) || !bytes(b, &y) || x == y) return false;
  for (int i = 0; i < 16; ++i) {
    if (x.compare(2 * i, 2, y, 2 * SWAPPED[i], 2) != 0) return false;
  }
  return true;
}

bool ParseRecordLine(const std::string &line, RolloutRecord *record, std::string *why) {
  Json json = Json::parse(line, nullptr, false);
  if (json.is_discarded()) {
    *why = "not JSON (a cut or damaged line)";
    return false;
  }
  if (!json.is_object()) {
    *why = "not a JSON object";
    return false;
  }
  auto ran = json.find("ran");
  if (ran == json.end() || !ran->is_boolean()) {
    *why = "no \"ran\" true or false";
    return false;
  }
  if (!json.contains("script")) {
    *why = "no \"script\"";
    return false;
  }
  RecordSummary &run = record->summary;
  run.ran = ran->get<bool>();
  bool has_status = false;
  return OptionalText(json, "time", &run.has_time, &run.time, why) &&
         OptionalText(json, "serial", &record->has_serial, &record->serial, why) &&
         OptionalText(json, "product", &record->has_product, &record->product, why) &&
         OptionalText(json, "uuid", &record->has_uuid, &record->uuid, why) &&
         OptionalText(json, "script", &run.has_script, &run.script, why) &&
         OptionalText(json, "status", &has_status, &run.status, why) &&
         OptionalText(json, "message", &run.has_message, &run.message, why) &&
         OptionalText(json, "kit_sha256", &run.has_kit_sha256, &run.kit_sha256, why);
}

std::string UuidKey(const std::string &uuid) { return Lower(uuid); }

std::string SerialKey(const std::string &serial, const std::string &product) {
  return TrimTrailingBlanks(serial) + '\0' + TrimTrailingBlanks(product);
}

}  // namespace fleet
