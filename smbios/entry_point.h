// Locating the SMBIOS 2.x entry point through the firmware's configuration
// table, and the program-wide values the structure walk starts from.
#pragma once

#include "smbios/smbios_types.h"

// GUID EB9D2D31-2D88-11D3-9A16-0090273FC14D in EFI_GUID memory order.
extern const uint8_t SMBIOS_TABLE_GUID_BYTES[16];
// GUID F2FD1544-9794-4A2C-992E-E5BBCF20E394: the 3.x entry point, which the
// run looks for only when asked to (-smbios3).
extern const uint8_t SMBIOS3_TABLE_GUID_BYTES[16];

// The located entry point, or null. Written by FindSmbiosEntryPoint.
extern SmbiosEntryPoint *gSmbiosEntryPoint;
// The located 3.x entry point, or null. Written by FindSmbios3EntryPoint;
// when set, it bounds the table instead of the 2.x one.
extern Smbios3EntryPoint *gSmbios3EntryPoint;
// The Structure Table Address, set by the run right after the lookup.
extern SmbiosStructurePointer gSmbiosTableStart;

// Scans the configuration table for the SMBIOS GUID and checks the "_SM_"
// anchor. Prints "ERROR: SMBIOS table not found.\n" and returns false when
// no usable entry point is found.
bool FindSmbiosEntryPoint();

// Scans the configuration table for the SMBIOS 3.x GUID and checks the
// "_SM3_" anchor. Quiet: a firmware without one still has the 2.x lookup.
bool FindSmbios3EntryPoint();

// Locates the table a run reads, the one place that does: the 3.x entry
// point's when Smbios3 asks for it and the firmware has one, else the 2.x
// entry point's (FindSmbiosEntryPoint's line when there is none). Sets
// gSmbiosTableStart and *Declared, the most structures the walk may visit:
// the 2.x entry point's count, or 0xFFFF for a 3.x table, which declares
// none and is bounded by its length alone.
bool LocateSmbiosTable(bool Smbios3, uint16_t *Declared);

// The located table's length in bytes: the 3.x entry point's maximum size,
// the 2.x entry point's Structure Table Length, or 0 before a lookup.
uint64_t SmbiosTableLength();
