// Reading a machine's facts through the product's SMBIOS functions. The
// table lies where the simulated firmware placed it, right before an
// unmapped page, so the facts read no further than the run could.
#include "fleet/machine_facts.h"

#include "app/record.h"
#include "app/smbios_facts.h"
#include "smbios/entry_point.h"
#include "smbios/structure_table.h"
#include "smbios/structure_walk.h"

namespace fleet {
namespace {

constexpr uint8_t PROCESSOR_FAMILY = 0x06;
constexpr uint8_t PROCESSOR_FAMILY_2 = 0x28;  // a WORD, when Processor Family is 0xFE
constexpr uint16_t FAMILY_SEE_FAMILY_2 = 0xFE;
// "Other" and "Unknown": no family named.
constexpr uint16_t FAMILY_OTHER = 0x01;
constexpr uint16_t FAMILY_UNKNOWN = 0x02;
// ARMv7, ARMv8, ARMv9, ARM, StrongARM.
constexpr uint16_t ARM_FAMILIES[] = {0x100, 0x101, 0x102, 0x118, 0x119};

struct Visit {
  MachineFacts *facts;
  SmbiosStructurePointer start;
  SmbiosStructurePointer last;
  uint8_t last_type;
  std::vector<VisitedStructure> *structures;  // null when not asked for
};

// The string a field of the formatted area names; false when the area is
// too short for the field or the string-set has no such string.
bool FieldString(SmbiosStructurePointer structure, uint8_t field, std::string *text) {
  const char *found = GetSmbiosFieldString(structure, field);
  if (found == nullptr) return false;
  *text = found;
  return true;
}

// A visited structure lies whole inside the table, so its formatted area
// may be read up to its Length.
ProcessorArch ArchOf(SmbiosStructurePointer structure) {
  uint8_t length = structure.Hdr->Length;
  if (length <= PROCESSOR_FAMILY) return ProcessorArch::Unknown;
  uint16_t family = structure.Raw[PROCESSOR_FAMILY];
  if (family == FAMILY_SEE_FAMILY_2) {
    if (length < PROCESSOR_FAMILY_2 + 2) return ProcessorArch::Unknown;
    family = static_cast<uint16_t>(structure.Raw[PROCESSOR_FAMILY_2] |
                                   structure.Raw[PROCESSOR_FAMILY_2 + 1] << 8);
  }
  if (family == FAMILY_OTHER || family == FAMILY_UNKNOWN || family == FAMILY_SEE_FAMILY_2) {
    return ProcessorArch::Unknown;
  }
  for (uint16_t arm : ARM_FAMILIES) {
    if (family == arm) return ProcessorArch::AArch64;
  }
  return ProcessorArch::X64;
}

void Record(SmbiosStructurePointer structure, void *context) {
  Visit *visit = static_cast<Visit *>(context);
  MachineFacts &facts = *visit->facts;
  visit->last = structure;
  visit->last_type = structure.Hdr->Type;
  ++facts.visited;
  if (visit->structures != nullptr) {
    SmbiosStructurePointer end = structure;
    NextSmbiosStructure(&end);  // a visited structure lies whole inside the table
    visit->structures->push_back(
        {static_cast<uint64_t>(structure.Raw - visit->start.Raw), {structure.Raw, end.Raw}});
  }
  if (structure.Hdr->Type == SMBIOS_TYPE_SYSTEM_INFORMATION && !facts.has_system_information) {
    facts.has_system_information = true;
    facts.has_manufacturer = FieldString(structure, SYSTEM_MANUFACTURER_FIELD, &facts.manufacturer);
    facts.has_product = FieldString(structure, SYSTEM_PRODUCT_FIELD, &facts.product);
    facts.has_serial = FieldString(structure, SYSTEM_SERIAL_FIELD, &facts.serial);
    facts.has_sku = FieldString(structure, SYSTEM_SKU_FIELD, &facts.sku);
    char uuid[UUID_TEXT_SIZE];
    facts.has_uuid = structure.Hdr->Length >= SYSTEM_UUID_OFFSET + 16 &&
                     FormatSmbiosUuid(structure.Raw + SYSTEM_UUID_OFFSET, SmbiosUuidLittleEndian(), uuid);
    if (facts.has_uuid) facts.uuid = uuid;
  }
  if (structure.Hdr->Type == SMBIOS_TYPE_PROCESSOR_INFORMATION &&
      facts.arch == ProcessorArch::Unknown) {
    facts.arch = ArchOf(structure);
  }
  if (structure.Hdr->Type != SMBIOS_TYPE_BIOS_INFORMATION) return;
  BiosVersionFacts bios;
  bios.offset = static_cast<uint64_t>(structure.Raw - visit->start.Raw);
  BiosVersionField field = ReadBiosVersionField(structure);
  bios.field = field.Number;
  if (field.Text != nullptr) {
    bios.has_field_string = true;
    bios.field_string = field.Text;
  }
  SmbiosStructurePointer cursor = structure;
  const char *string2 = GetSmbiosString(&cursor, 2);
  if (string2 != nullptr) {
    bios.has_string2 = true;
    bios.string2 = string2;
    bios.reading = DescribeIntegerReading(string2);
    bios.integer = ParseVersionNumber(string2);
  }
  facts.bios.push_back(bios);
}

// Why the walk stopped at `stop`, when it stopped before the table's end.
void ExplainEnd(MachineFacts *facts, SmbiosStructurePointer start, SmbiosStructurePointer stop,
                bool reached_count, bool ended_at_end_of_table) {
  facts->end_offset = static_cast<uint64_t>(stop.Raw - start.Raw);
  facts->end = WalkEnd::TableEnd;
  if (reached_count || ended_at_end_of_table || facts->end_offset >= facts->table_length) return;
  uint64_t left = facts->table_length - facts->end_offset;
  uint16_t handle = SmbiosHandleAt(stop);
  SmbiosStructurePointer after = stop;
  if (left < sizeof(SmbiosStructureHeader) || !NextSmbiosStructure(&after)) {
    facts->end = WalkEnd::Damaged;
    if (left >= sizeof(SmbiosStructureHeader)) facts->end_length = stop.Hdr->Length;
  } else if (handle == INVALID_SMBIOS_HANDLE) {
    facts->end = WalkEnd::InvalidHandle;
    facts->end_handle = handle;
  } else {
    facts->end = WalkEnd::RepeatedHandle;
    facts->end_handle = handle;
  }
}

}  // namespace

MachineFacts ReadMachineFacts(sim::Firmware &firmware, bool entry_point3,
                              std::vector<VisitedStructure> *structures) {
  MachineFacts facts;
  facts.entry_point3 = entry_point3;
  firmware.InstallGlobals();
  uint16_t declared = 0;
  if (!LocateSmbiosTable(entry_point3, &declared)) return facts;
  facts.table_length = SmbiosTableLength();
  if (gSmbios3EntryPoint != nullptr) {
    facts.major_version = gSmbios3EntryPoint->MajorVersion;
    facts.minor_version = gSmbios3EntryPoint->MinorVersion;
  } else {
    facts.major_version = gSmbiosEntryPoint->MajorVersion;
    facts.minor_version = gSmbiosEntryPoint->MinorVersion;
    facts.declared_count = declared;
  }
  facts.found = true;

  Visit visit = {&facts, gSmbiosTableStart, {nullptr}, 0, structures};
  unsigned visited = WalkSmbiosTable(declared, Record, &visit);
  SmbiosStructurePointer stop = gSmbiosTableStart;
  if (visited > 0) {
    stop = visit.last;
    NextSmbiosStructure(&stop);  // a visited structure lies whole inside the table
  }
  ExplainEnd(&facts, gSmbiosTableStart, stop, !entry_point3 && visited >= declared,
             entry_point3 && visited > 0 && visit.last_type == SMBIOS_TYPE_END_OF_TABLE);

  FirstStructures first;
  FindFirstStructures(WalkSmbiosTable, declared, &first);
  HardwareIdFields fields;
  ReadHardwareIdFields(&first, &fields);
  for (int i = 0; i < HWID_FIELD_COUNT; ++i) {
    facts.has_hwid_field[i] = fields.Text[i] != nullptr;
    if (facts.has_hwid_field[i]) facts.hwid_field[i].assign(fields.Text[i], fields.Length[i]);
  }
  ComputeHardwareIds(&fields, &facts.hardware_ids);

  gSmbiosEntryPoint = nullptr;
  gSmbios3EntryPoint = nullptr;
  gSmbiosTableStart.Raw = nullptr;
  return facts;
}

const BiosVersionFacts &FirstBios(const MachineFacts &facts) {
  static const BiosVersionFacts NONE;
  return facts.bios.empty() ? NONE : facts.bios.front();
}

}  // namespace fleet
