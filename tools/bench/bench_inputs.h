// The inputs the benchmark measures with, generated instead of stored so
// that their shape is plain to read and they cost nothing in the tree:
//
//   smbios-9.bin        9 structures like a small virtual machine publishes
//                       (BIOS, system, chassis, processor, memory, boot
//                       information, end of table), about 400 bytes;
//   smbios-300.bin      300 structures of a populated board, 20480 bytes;
//   smbios-largest.bin  the largest table a 2.x entry point can describe:
//                       65535 bytes, nearly all of them 6-byte structures;
//   config-4k.ini       a 4096-byte UpdateConfig.ini with its keys at the end;
//   config-1m.ini       a 1 MiB UpdateConfig.ini with its keys at the end.
//
// The tables are written as `dmidecode --dump-bin` files: a 2.x entry point
// at offset 0 whose Structure Table Address is the file offset 0x20, and the
// table there. Every table starts with one BIOS Information structure and
// bears unique handles, so a run visits every structure and runs one script.
// The unit tests walk the same tables.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "smbios/smbios_types.h"

namespace bench {

struct GeneratedTable {
  std::string name;            // file name: "smbios-9.bin" and so on
  std::vector<uint8_t> table;  // the structure table alone
  uint16_t count = 0;          // structures in it
  uint16_t largest = 0;        // bytes of its largest structure
};

// Appends one structure: header, a formatted area of `formatted_length`
// bytes (header included; the rest zero) and the string-set.
inline void AddStructure(GeneratedTable *t, uint8_t type, uint16_t handle, uint8_t formatted_length,
                         const std::vector<std::string> &strings) {
  size_t start = t->table.size();
  t->table.push_back(type);
  t->table.push_back(formatted_length);
  t->table.push_back(static_cast<uint8_t>(handle & 0xFF));
  t->table.push_back(static_cast<uint8_t>(handle >> 8));
  t->table.resize(start + formatted_length, 0);
  for (const std::string &s : strings) {
    t->table.insert(t->table.end(), s.begin(), s.end());
    t->table.push_back(0);
  }
  if (strings.empty()) t->table.push_back(0);
  t->table.push_back(0);
  size_t size = t->table.size() - start;
  if (size > t->largest) t->largest = static_cast<uint16_t>(size);
  ++t->count;
}

constexpr uint8_t TYPE_BIOS = 0;
constexpr uint8_t TYPE_OEM_STRINGS = 11;
constexpr uint8_t TYPE_OEM = 0x80;  // vendor-defined: any formatted length
constexpr uint8_t TYPE_END_OF_TABLE = 127;

// The BIOS Information structure every table starts with: version "1.16".
inline void AddBiosInformation(GeneratedTable *t, uint16_t handle) {
  AddStructure(t, TYPE_BIOS, handle, 0x18, {"Bench Firmware", "1.16", "04/01/2014"});
}

inline GeneratedTable SmallVmTable() {
  GeneratedTable t;
  t.name = "smbios-9.bin";
  AddBiosInformation(&t, 0x0000);
  AddStructure(&t, 1, 0x0100, 0x1B, {"Bench Systems", "Standard PC", "1.0"});
  AddStructure(&t, 3, 0x0300, 0x16, {"Bench Systems", "1.0"});
  AddStructure(&t, 4, 0x0400, 0x2A, {"CPU 0", "Bench Systems", "1.0"});
  AddStructure(&t, 16, 0x1000, 0x17, {});
  AddStructure(&t, 17, 0x1100, 0x28, {"DIMM 0", "Bench Systems"});
  AddStructure(&t, 19, 0x1300, 0x1F, {});
  AddStructure(&t, 32, 0x2000, 0x0B, {});
  AddStructure(&t, TYPE_END_OF_TABLE, 0x7F00, 0x04, {});
  return t;
}

inline GeneratedTable PopulatedBoardTable() {
  constexpr size_t BYTES = 20480;
  constexpr int STRUCTURES = 300;
  struct Shape {
    uint8_t type;
    uint8_t formatted_length;
    std::vector<const char *> strings;  // "%u" is the structure's number
  };
  const std::vector<Shape> shapes = {
      {7, 0x1B, {"L%u Unified Write-Back Cache"}},
      {8, 0x09, {"J%u", "Rear USB 3.2 Port %u"}},
      {9, 0x18, {"PCIe x16 Slot %u (CPU lanes)"}},
      {17, 0x54, {"DIMM %u", "Channel %u Bank 0", "Bench Memory", "SN%u0042", "Asset %u",
                  "PN-BENCH-DDR5-%u"}},
      {20, 0x13, {}},
      {28, 0x16, {"Temperature Probe %u (board)"}},
      {41, 0x0B, {"Onboard Network Controller %u"}},
      {TYPE_OEM, 0x68, {"Vendor Data %u"}},
  };
  GeneratedTable t;
  t.name = "smbios-300.bin";
  AddBiosInformation(&t, 0);
  for (int i = 1; i < STRUCTURES - 2; ++i) {
    const Shape &shape = shapes[static_cast<size_t>(i) % shapes.size()];
    std::vector<std::string> strings;
    for (const char *pattern : shape.strings) {
      std::string s = pattern;
      size_t at = s.find("%u");
      if (at != std::string::npos) s.replace(at, 2, std::to_string(i));
      strings.push_back(s);
    }
    AddStructure(&t, shape.type, static_cast<uint16_t>(i), shape.formatted_length, strings);
  }
  // An OEM Strings structure (formatted area 5 bytes, one string) takes up
  // exactly what is left, less the 6-byte end of table.
  size_t rest = BYTES - t.table.size() - 6;
  AddStructure(&t, TYPE_OEM_STRINGS, STRUCTURES - 2, 5, {std::string(rest - 7, 'o')});
  AddStructure(&t, TYPE_END_OF_TABLE, STRUCTURES - 1, 4, {});
  return t;
}

inline GeneratedTable LargestTable() {
  constexpr size_t BYTES = 65535;
  GeneratedTable t;
  t.name = "smbios-largest.bin";
  AddBiosInformation(&t, 0);
  // 6-byte structures (header and two NULs) fill the rest; a few 7-byte
  // ones (one 1-character string) make the total come out at 65535.
  size_t rest = BYTES - t.table.size();
  size_t sevens = 0;
  while ((rest - 7 * sevens) % 6 != 0) ++sevens;
  size_t sixes = (rest - 7 * sevens) / 6;
  uint16_t handle = 1;
  for (size_t i = 0; i < sevens; ++i) AddStructure(&t, TYPE_OEM, handle++, 4, {"x"});
  for (size_t i = 0; i + 1 < sixes; ++i) AddStructure(&t, TYPE_OEM, handle++, 4, {});
  AddStructure(&t, TYPE_END_OF_TABLE, handle, 4, {});
  return t;
}

inline std::vector<GeneratedTable> BenchmarkTables() {
  return {SmallVmTable(), PopulatedBoardTable(), LargestTable()};
}

inline uint8_t Checksum(const uint8_t *bytes, size_t length) {
  uint8_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return static_cast<uint8_t>(0u - sum);
}

// The table as `dmidecode --dump-bin` writes it.
inline std::vector<uint8_t> DumpBin(const GeneratedTable &t) {
  constexpr uint32_t TABLE_OFFSET = 0x20;
  SmbiosEntryPoint entry;
  std::memset(&entry, 0, sizeof(entry));
  std::memcpy(entry.AnchorString, "_SM_", 4);
  entry.EntryPointLength = sizeof(SmbiosEntryPoint);
  entry.MajorVersion = 2;
  entry.MinorVersion = 8;
  entry.MaxStructureSize = t.largest;
  std::memcpy(entry.IntermediateAnchorString, "_DMI_", 5);
  entry.TableLength = static_cast<uint16_t>(t.table.size());
  entry.TableAddress = TABLE_OFFSET;
  entry.NumberOfSmbiosStructures = t.count;
  entry.SmbiosBcdRevision = 0x28;
  uint8_t *raw = reinterpret_cast<uint8_t *>(&entry);
  entry.IntermediateChecksum = Checksum(raw + 0x10, 0x0F);
  entry.EntryPointStructureChecksum = Checksum(raw, sizeof(entry));

  std::vector<uint8_t> dump(TABLE_OFFSET, 0);
  std::memcpy(dump.data(), &entry, sizeof(entry));
  dump.insert(dump.end(), t.table.begin(), t.table.end());
  return dump;
}

// An UpdateConfig.ini of exactly `bytes` bytes: comment lines, then the two
// keys as its last lines, so a search for either key reads the whole file.
// The configured version 2 is above the tables' 1.16.
inline std::string ConfigWithKeysAtEnd(size_t bytes) {
  const std::string keys = "ProductName=BenchPC\r\nVersion=2\r\n";
  const std::string line = "; padding that holds no key, to make the file larger ........\r\n";
  std::string text;
  size_t filler = bytes > keys.size() ? bytes - keys.size() : 0;
  while (text.size() + line.size() <= filler) text += line;
  size_t rest = filler - text.size();
  if (rest >= 3) {
    text += ";" + std::string(rest - 3, '.') + "\r\n";
  } else {
    text += std::string(rest, '\n');
  }
  return text + keys;
}

struct GeneratedConfig {
  std::string name;
  std::string text;
};

inline std::vector<GeneratedConfig> BenchmarkConfigs() {
  return {{"config-4k.ini", ConfigWithKeysAtEnd(4096)},
          {"config-1m.ini", ConfigWithKeysAtEnd(1u << 20)}};
}

}  // namespace bench
