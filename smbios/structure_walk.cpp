// The walk in one pass. Fetching by handle searches from the table start
// every time, which makes a walk over a large table quadratic. Stepping
// through the table gives the same visits: a fetch of the handle read behind
// structure k returns structure k+1 unless an earlier structure bears the
// same handle, and in that case the walk ends (it would only go round again).
// A set of the handles met so far tells exactly when that happens.
#include "smbios/structure_walk.h"

#include "smbios/entry_point.h"
#include "smbios/structure_table.h"

namespace {

// One bit per 16-bit handle, 8 KiB: static storage keeps it off the
// firmware's stack and out of the pool.
uint8_t gHandlesMet[65536 / 8];

bool TestAndSet(uint16_t handle) {
  uint8_t mask = static_cast<uint8_t>(1u << (handle & 7));
  bool met = (gHandlesMet[handle >> 3] & mask) != 0;
  gHandlesMet[handle >> 3] |= mask;
  return met;
}

}  // namespace

unsigned WalkSmbiosTable(uint16_t DeclaredCount, SmbiosVisitor Visit, void *Context) {
  for (uint8_t &byte : gHandlesMet) byte = 0;
  SmbiosStructurePointer cursor = gSmbiosTableStart;
  unsigned visited = 0;
  while (visited < DeclaredCount) {
    SmbiosStructurePointer structure = cursor;
    if (!NextSmbiosStructure(&cursor)) break;  // damaged: the table ends here
    // Its header lies inside the table, checked by the step past it.
    uint16_t handle = structure.Hdr->Handle;
    if (handle == INVALID_SMBIOS_HANDLE || TestAndSet(handle)) break;
    Visit(structure, Context);
    ++visited;
    // A 3.x table declares no structure count: its End-of-Table structure
    // is the last one, whatever bytes the maximum size leaves after it.
    if (gSmbios3EntryPoint != nullptr && structure.Hdr->Type == SMBIOS_TYPE_END_OF_TABLE) break;
  }
  return visited;
}
