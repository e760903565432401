// What a machine's SMBIOS data says, read with the application's own table
// functions from the table the simulated firmware published for it: the
// product, each BIOS Information structure's version strings and how the
// integer rule reads them, and where the structure walk ended and why.
// The fleet report's columns and warnings come from these facts, so they
// follow the same bounds and the same walk as the run itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/hardware_ids.h"
#include "app/version_check.h"
#include "sim/firmware.h"

namespace fleet {

// One BIOS Information structure the walk visited.
struct BiosVersionFacts {
  uint64_t offset = 0;           // in the table
  uint8_t field = 0;             // the BIOS Version field's string number (0: none or too short)
  bool has_field_string = false;
  std::string field_string;      // the string that field names
  bool has_string2 = false;
  std::string string2;           // the string the integer rule reads
  IntegerReading reading = IntegerReading::Whole;  // of string 2
  int32_t integer = 0;           // string 2 under the integer rule
};

enum class WalkEnd {
  TableEnd,        // the end bound, or (2.x) the declared count, or (3.x) End-of-Table
  RepeatedHandle,  // a structure whose handle an earlier one bears
  InvalidHandle,   // a structure whose handle is 0xFFFF
  Damaged,         // a structure that does not lie whole inside the table
};

// The machine's processor, by the family its Processor Information names:
// every ARM family is AArch64, any other family x64. Unknown when no such
// structure names one ("Other" and "Unknown" name none).
enum class ProcessorArch { Unknown, X64, AArch64 };

struct MachineFacts {
  bool found = false;       // a table was published and read
  bool entry_point3 = false;  // the data's entry point is the 3.x one
  uint8_t major_version = 0;  // the SMBIOS version the entry point names
  uint8_t minor_version = 0;
  uint64_t table_length = 0;  // the bound the entry point declares
  uint16_t declared_count = 0;  // the 2.x entry point's structure count (3.x: none, 0)
  unsigned visited = 0;
  WalkEnd end = WalkEnd::TableEnd;
  uint64_t end_offset = 0;  // where the walk stopped
  uint16_t end_handle = 0;  // the handle there (RepeatedHandle, InvalidHandle)
  uint8_t end_length = 0;   // the Length byte there (Damaged, when a header lies there)
  bool has_system_information = false;
  bool has_manufacturer = false;
  std::string manufacturer;  // of the first System Information structure
  bool has_product = false;
  std::string product;
  bool has_serial = false;
  std::string serial;
  bool has_sku = false;
  std::string sku;
  bool has_uuid = false;
  std::string uuid;  // as the run record writes it (FormatSmbiosUuid)
  std::vector<BiosVersionFacts> bios;  // in table order
  ProcessorArch arch = ProcessorArch::Unknown;  // of the first structure naming a family
  // The hardware-ID fields as the IDs take them (in the order of
  // HardwareIdField), and the IDs, by the image's own code.
  bool has_hwid_field[HWID_FIELD_COUNT] = {};
  std::string hwid_field[HWID_FIELD_COUNT];
  HardwareIds hardware_ids = {};
};

// The BIOS Information structure a machine's row shows: the first in table
// order, or an empty one when the table holds none.
const BiosVersionFacts &FirstBios(const MachineFacts &facts);

// A structure the walk visited, whole: header, formatted area and string-set.
struct VisitedStructure {
  uint64_t offset = 0;  // in the table
  std::vector<uint8_t> bytes;
};

// The structure type numbers the kit tools ask for by name.
constexpr uint8_t SMBIOS_TYPE_PROCESSOR_INFORMATION = 4;

// Reads the facts from `firmware`'s published SMBIOS table: the 3.x one
// when `entry_point3`, else the 2.x one. With `structures`, also a copy of
// every structure the walk visits, in table order. Sets the SMBIOS reader's
// program-wide references for the read and clears them afterwards.
MachineFacts ReadMachineFacts(sim::Firmware &firmware, bool entry_point3,
                              std::vector<VisitedStructure> *structures = nullptr);

}  // namespace fleet
