// SMBIOS record layouts as the firmware publishes them (byte-packed,
// little-endian), the structure cursor, and the result codes of the table
// operations. Records are read in place in firmware memory, never copied.
#pragma once

#include <stddef.h>
#include <stdint.h>

// SMBIOS 2.x Entry Point Structure, 31 bytes.
struct __attribute__((packed)) SmbiosEntryPoint {
  uint8_t AnchorString[4];  // "_SM_"
  uint8_t EntryPointStructureChecksum;
  uint8_t EntryPointLength;
  uint8_t MajorVersion;
  uint8_t MinorVersion;
  uint16_t MaxStructureSize;
  uint8_t EntryPointRevision;
  uint8_t FormattedArea[5];
  uint8_t IntermediateAnchorString[5];  // "_DMI_"
  uint8_t IntermediateChecksum;
  uint16_t TableLength;
  uint32_t TableAddress;
  uint16_t NumberOfSmbiosStructures;
  uint8_t SmbiosBcdRevision;
};
static_assert(sizeof(SmbiosEntryPoint) == 31, "SMBIOS 2.x entry point is 31 bytes");
static_assert(offsetof(SmbiosEntryPoint, TableLength) == 0x16, "Structure Table Length");
static_assert(offsetof(SmbiosEntryPoint, TableAddress) == 0x18, "Structure Table Address");
static_assert(offsetof(SmbiosEntryPoint, NumberOfSmbiosStructures) == 0x1C,
              "Number of SMBIOS Structures");

// SMBIOS 3.x (64-bit) entry point, 24 bytes. Searched for only when the run
// is asked to (-smbios3); the host tools also read it from dump files.
struct __attribute__((packed)) Smbios3EntryPoint {
  uint8_t AnchorString[5];  // "_SM3_"
  uint8_t EntryPointStructureChecksum;
  uint8_t EntryPointLength;
  uint8_t MajorVersion;
  uint8_t MinorVersion;
  uint8_t DocRev;
  uint8_t EntryPointRevision;
  uint8_t Reserved;
  uint32_t TableMaximumSize;
  uint64_t TableAddress;
};
static_assert(sizeof(Smbios3EntryPoint) == 24, "SMBIOS 3.x entry point is 24 bytes");
static_assert(offsetof(Smbios3EntryPoint, TableMaximumSize) == 0x0C, "Structure Table Maximum Size");
static_assert(offsetof(Smbios3EntryPoint, TableAddress) == 0x10, "Structure Table Address");

struct __attribute__((packed)) SmbiosStructureHeader {
  uint8_t Type;
  uint8_t Length;
  uint16_t Handle;
};
static_assert(sizeof(SmbiosStructureHeader) == 4, "SMBIOS structure header is 4 bytes");

// A cursor into the structure table: one pointer, read either as a header or
// as raw bytes. Owns nothing.
union SmbiosStructurePointer {
  SmbiosStructureHeader *Hdr;
  uint8_t *Raw;
};
static_assert(sizeof(SmbiosStructurePointer) == sizeof(void *), "one pointer-sized value");

constexpr uint16_t INVALID_SMBIOS_HANDLE = 0xFFFF;
constexpr uint8_t SMBIOS_TYPE_BIOS_INFORMATION = 0;
constexpr uint8_t SMBIOS_TYPE_SYSTEM_INFORMATION = 1;
constexpr uint8_t SMBIOS_TYPE_BASEBOARD_INFORMATION = 2;
constexpr uint8_t SMBIOS_TYPE_SYSTEM_ENCLOSURE = 3;
constexpr uint8_t SMBIOS_TYPE_END_OF_TABLE = 127;

constexpr unsigned SMBIOS_RESULT_SUCCESS = 0;
constexpr unsigned SMBIOS_RESULT_INVALID_HANDLE = 131;
