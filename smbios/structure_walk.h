// The run's walk over the structure table, in one pass.
#pragma once

#include "smbios/smbios_types.h"

// Called for every structure the walk visits, in table order.
typedef void (*SmbiosVisitor)(SmbiosStructurePointer Structure, void *Context);

// A walk over the structure table: WalkSmbiosTable, or a reference walk.
typedef unsigned (*SmbiosWalk)(uint16_t DeclaredCount, SmbiosVisitor Visit, void *Context);

// Visits the structures that fetching handle after handle from the first
// structure's would visit (at most DeclaredCount of them), stopping where a
// handle repeats, is INVALID_SMBIOS_HANDLE, or a damaged structure begins.
// Costs time linear in the table size. Returns the number visited.
unsigned WalkSmbiosTable(uint16_t DeclaredCount, SmbiosVisitor Visit, void *Context);
