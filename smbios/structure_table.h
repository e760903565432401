// Reading the SMBIOS structure table in place: strings by number, structures
// by handle, and the walk over the whole table that the run makes.
#pragma once

#include "smbios/smbios_types.h"

// String StringNumber (1-based) of the structure at *Cursor, or null. When
// the string-set ends first, *Cursor moves to the next structure. Never
// reads at or past the table's end bound.
const char *GetSmbiosString(SmbiosStructurePointer *Cursor, uint16_t StringNumber);

// The string that the string-number field at FieldOffset of the structure's
// formatted area names; null when the formatted area is too short to hold
// the field, the field is 0, or the string-set has no such string.
const char *GetSmbiosFieldString(SmbiosStructurePointer Structure, uint8_t FieldOffset);

// Fetches the first structure in table order whose Handle is *Handle and
// hands back, through *Handle, the handle of the structure physically after
// it (or INVALID_SMBIOS_HANDLE).
unsigned GetSmbiosStructure(uint16_t *Handle, SmbiosStructurePointer *Structure,
                            uint16_t *Length);

// Handle of the structure at Cursor; INVALID_SMBIOS_HANDLE when no whole
// structure header lies there inside the table.
uint16_t SmbiosHandleAt(SmbiosStructurePointer Cursor);

// Moves *Cursor past the structure it designates. False, with the cursor
// unchanged, when that structure does not lie whole inside the table.
bool NextSmbiosStructure(SmbiosStructurePointer *Cursor);
