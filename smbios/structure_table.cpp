// Reading the SMBIOS structure table in place. Structures are fetched by
// handle, always searching from the table start, and strings by their number
// in the string-set. The table comes from firmware and is trusted for its
// content, but never for its bounds: nothing is read at or past the end
// bound (table start plus Structure Table Length), and a structure that does
// not lie whole inside the table ends the table where it begins.
#include "smbios/structure_table.h"

#include "platform/console.h"
#include "smbios/entry_point.h"

namespace {

// The 3.x entry point, when the run chose it, declares a 32-bit maximum
// size; an end that would pass the top of the address space is cut there.
const uint8_t *TableEnd() {
  const uint8_t *start = gSmbiosTableStart.Raw;
  if (start == nullptr) return start;
  uint64_t length = SmbiosTableLength();
  uintptr_t room = UINTPTR_MAX - reinterpret_cast<uintptr_t>(start);
  return start + (length < room ? length : room);
}

enum class Scan { Found, SetEnded, Damaged };

// Walks the string-set of the structure at `start` towards string `number`.
// Found: *at is that string (its NUL lies inside the table). SetEnded: the
// string-set ended first and *at is the first byte after it. Damaged: the
// header, formatted area or string-set runs into the end bound.
Scan ScanStrings(const uint8_t *start, const uint8_t *end, uint16_t number,
                 const uint8_t **at) {
  // Also true when start lies at or past the end bound.
  if (end - start < static_cast<ptrdiff_t>(sizeof(SmbiosStructureHeader))) return Scan::Damaged;
  uint8_t length = reinterpret_cast<const SmbiosStructureHeader *>(start)->Length;
  if (length < sizeof(SmbiosStructureHeader) || length >= end - start) return Scan::Damaged;

  const uint8_t *p = start + length;
  for (uint16_t i = 1;; ++i) {
    const uint8_t *text = p;
    while (p < end && *p != '\0') ++p;
    if (p >= end) return Scan::Damaged;  // no NUL before the end bound
    if (i == number) {
      *at = text;
      return Scan::Found;
    }
    ++p;
    if (p >= end) return Scan::Damaged;  // the set's final NUL is missing
    if (*p == '\0') {
      *at = p + 1;
      return Scan::SetEnded;
    }
  }
}

// The first byte after the structure at `start`, or null when the structure
// does not lie whole inside the table.
const uint8_t *StructureEnd(const uint8_t *start, const uint8_t *end) {
  const uint8_t *next = nullptr;
  // 0xFFFF strings cannot fit in a table of at most 65535 bytes, so the
  // scan always runs to the end of the string-set.
  return ScanStrings(start, end, 0xFFFF, &next) == Scan::SetEnded ? next : nullptr;
}

uint16_t HandleAt(const uint8_t *p, const uint8_t *end) {
  // Also true when p lies at or past the end bound.
  if (end - p < static_cast<ptrdiff_t>(sizeof(SmbiosStructureHeader))) return INVALID_SMBIOS_HANDLE;
  return reinterpret_cast<const SmbiosStructureHeader *>(p)->Handle;
}

}  // namespace

const char *GetSmbiosString(SmbiosStructurePointer *Cursor, uint16_t StringNumber) {
  if (StringNumber == 0) return nullptr;
  const uint8_t *end = TableEnd();
  const uint8_t *at = nullptr;
  switch (ScanStrings(Cursor->Raw, end, StringNumber, &at)) {
    case Scan::Found:
      return reinterpret_cast<const char *>(at);
    case Scan::SetEnded:
      Cursor->Raw = const_cast<uint8_t *>(at);
      return nullptr;
    case Scan::Damaged:
      break;
  }
  // A damaged structure is where the table ends.
  Cursor->Raw = const_cast<uint8_t *>(end);
  return nullptr;
}

const char *GetSmbiosFieldString(SmbiosStructurePointer Structure, uint8_t FieldOffset) {
  if (Structure.Hdr->Length <= FieldOffset) return nullptr;
  // A copy of the cursor: looking up a missing string moves it.
  SmbiosStructurePointer cursor = Structure;
  return GetSmbiosString(&cursor, Structure.Raw[FieldOffset]);
}

unsigned GetSmbiosStructure(uint16_t *Handle, SmbiosStructurePointer *Structure,
                            uint16_t *Length) {
  if (Structure == nullptr || Length == nullptr) {
    ConsolePrintAscii("Invalid handle\n");
    return SMBIOS_RESULT_INVALID_HANDLE;
  }
  *Length = 0;
  const uint8_t *end = TableEnd();
  const uint8_t *cursor = gSmbiosTableStart.Raw;
  if (cursor == nullptr || cursor >= end) {
    *Handle = INVALID_SMBIOS_HANDLE;
    return SMBIOS_RESULT_INVALID_HANDLE;
  }

  uint16_t wanted = *Handle;
  while (cursor < end) {
    const uint8_t *current = cursor;
    cursor = StructureEnd(current, end);
    if (cursor == nullptr) break;  // damaged: the table ends before it
    if (HandleAt(current, end) == wanted) {
      *Length = static_cast<uint16_t>(cursor - current);
      Structure->Raw = const_cast<uint8_t *>(current);
      *Handle = HandleAt(cursor, end);
      return SMBIOS_RESULT_SUCCESS;
    }
  }
  *Handle = INVALID_SMBIOS_HANDLE;
  return SMBIOS_RESULT_INVALID_HANDLE;
}

uint16_t SmbiosHandleAt(SmbiosStructurePointer Cursor) { return HandleAt(Cursor.Raw, TableEnd()); }

bool NextSmbiosStructure(SmbiosStructurePointer *Cursor) {
  const uint8_t *next = StructureEnd(Cursor->Raw, TableEnd());
  if (next == nullptr) return false;
  Cursor->Raw = const_cast<uint8_t *>(next);
  return true;
}
