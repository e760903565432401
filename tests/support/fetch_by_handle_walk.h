// The walk over the structure table made the slow way: GetSmbiosStructure
// handle after handle, each fetch searching from the table start, so a whole
// walk costs time quadratic in the number of structures. It is the reference
// the one-pass walk (WalkSmbiosTable) is checked against, and the "before"
// figure of the benchmark.
//
// Same contract as WalkSmbiosTable: starts at the first structure's handle,
// visits at most DeclaredCount structures in table order, and ends where a
// fetch fails or returns a structure at or before the last one visited (a
// repeated handle: going on would only visit the same structures again).
#pragma once

#include <stdint.h>

#include "smbios/entry_point.h"
#include "smbios/structure_table.h"
#include "smbios/structure_walk.h"

namespace testsupport {

inline unsigned FetchByHandleWalk(uint16_t DeclaredCount, SmbiosVisitor Visit, void *Context) {
  unsigned visited = 0;
  const uint8_t *last = nullptr;
  uint16_t handle = SmbiosHandleAt(gSmbiosTableStart);
  while (visited < DeclaredCount && handle != INVALID_SMBIOS_HANDLE) {
    SmbiosStructurePointer structure = {};
    uint16_t length = 0;
    if (GetSmbiosStructure(&handle, &structure, &length) != SMBIOS_RESULT_SUCCESS) break;
    if (last != nullptr && structure.Raw <= last) break;
    last = structure.Raw;
    Visit(structure, Context);
    ++visited;
  }
  return visited;
}

}  // namespace testsupport
