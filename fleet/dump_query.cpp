// A dump as the image walks it: the fleet report's reader and the simulated
// firmware place the table, ReadMachineFacts walks it with the image's own
// walk and keeps a copy of each structure it visits. The line for a walk
// that ends early names the part of the structure that stopped it.
#include "fleet/dump_query.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "sim/firmware.h"
#include "sim/smbios_input.h"
#include "smbios/smbios_types.h"

namespace fleet {
namespace {

std::string Hex(const std::vector<uint8_t> &bytes) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text += DIGITS[byte >> 4];
    text += DIGITS[byte & 15];
  }
  return text;
}

std::string Handle(uint16_t handle) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04X", handle);
  return text;
}

// Why the walk ended at facts.end_offset, before the table's end.
std::string StopLine(const MachineFacts &facts) {
  std::string at = "table offset " + std::to_string(facts.end_offset);
  uint64_t left = facts.table_length - facts.end_offset;
  switch (facts.end) {
    case WalkEnd::TableEnd:
      return "";
    case WalkEnd::RepeatedHandle:
      return "the structure at " + at + " repeats handle " + Handle(facts.end_handle);
    case WalkEnd::InvalidHandle:
      return "a structure at " + at + " has handle " + Handle(facts.end_handle);
    case WalkEnd::Damaged:
      break;
  }
  if (left < sizeof(SmbiosStructureHeader)) {
    return "the last " + std::to_string(left) + " bytes are too short for a structure header";
  }
  if (facts.end_length < sizeof(SmbiosStructureHeader)) {
    return "the structure at " + at + " has a Length byte of " + std::to_string(facts.end_length);
  }
  if (facts.end_length >= left) {
    return "the formatted area of the structure at " + at + " runs past the end of the table";
  }
  return "the strings of the structure at " + at + " run past the end of the table";
}

const char *EndName(WalkEnd end) {
  switch (end) {
    case WalkEnd::RepeatedHandle:
      return "repeated-handle";
    case WalkEnd::InvalidHandle:
      return "invalid-handle";
    case WalkEnd::Damaged:
      return "damaged";
    case WalkEnd::TableEnd:
      break;
  }
  return "";
}

}  // namespace

DumpAnswer QueryDump(const std::string &path) {
  DumpAnswer answer;
  answer.path = path;
  std::vector<uint8_t> dump;
  if (!sim::LoadSmbiosInput(path, &dump, &answer.problem)) return answer;
  sim::Firmware firmware{sim::Options{}};
  if (!firmware.PublishSmbiosDump(dump, &answer.problem)) return answer;
  answer.facts = ReadMachineFacts(firmware, sim::AnchorOf(dump) == sim::SmbiosAnchor::V3,
                                  &answer.structures);
  if (!answer.facts.found) {
    answer.problem = "the simulated firmware published no table for it";
    return answer;
  }
  answer.stop = StopLine(answer.facts);
  return answer;
}

std::string DumpAnswersJson(const std::vector<DumpAnswer> &answers) {
  using nlohmann::json;
  json dumps = json::array();
  for (const DumpAnswer &answer : answers) {
    if (!answer.problem.empty()) {
      dumps.push_back({{"path", answer.path}, {"problem", answer.problem}});
      continue;
    }
    const MachineFacts &facts = answer.facts;
    json structures = json::array();
    for (const VisitedStructure &structure : answer.structures) {
      const uint8_t *bytes = structure.bytes.data();
      structures.push_back({{"offset", structure.offset},
                            {"type", bytes[0]},
                            {"handle", bytes[2] | bytes[3] << 8},
                            {"bytes", Hex(structure.bytes)}});
    }
    json stop = nullptr;
    if (!answer.stop.empty()) {
      stop = {{"kind", EndName(facts.end)}, {"offset", facts.end_offset}, {"line", answer.stop}};
    }
    dumps.push_back({{"path", answer.path},
                     {"problem", nullptr},
                     {"entry_point", facts.entry_point3 ? "3.x" : "2.x"},
                     {"version", {facts.major_version, facts.minor_version}},
                     {"declared_count", facts.entry_point3 ? json() : json(facts.declared_count)},
                     {"table_length", facts.table_length},
                     {"structures", structures},
                     {"stop", stop}});
  }
  json out = {{"types",
               {{"bios_information", SMBIOS_TYPE_BIOS_INFORMATION},
                {"processor_information", SMBIOS_TYPE_PROCESSOR_INFORMATION},
                {"end_of_table", SMBIOS_TYPE_END_OF_TABLE}}},
              {"table_limit", sim::SMBIOS_TABLE_LIMIT},
              {"dumps", dumps}};
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace fleet
