// The SMBIOS entry point lookup and the structure walk on arbitrary entry
// point fields and table bytes. The input is laid out as a dump image: the
// 31-byte entry point at offset 0 and the table from offset 32 on. The
// table is placed in a block of exactly its declared length (the entry
// point's Structure Table Length) whose next byte is unmapped, so any read
// at or past the end bound faults at once, whatever the Length bytes,
// string-sets and declared count say.
//
// Checked on every input: the lookup accepts exactly the "_SM_" anchor; the
// one-pass walk ends, visits structures in increasing address order (never
// one twice), at most the declared count of them, each whole inside the
// table; it agrees with the walk that fetches handle after handle; string
// lookups on every visited structure, and on a cursor at an arbitrary byte
// of the table, stay inside; and a whole run of the application on the
// same table runs exactly the scripts the visited BIOS Information
// structures call for, and ends with success only when it reached at least
// one and each had a version.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/main.h"
#include "app/version_check.h"
#include "fuzz_check.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "smbios/entry_point.h"
#include "smbios/structure_table.h"
#include "smbios/structure_walk.h"
#include "support/fetch_by_handle_walk.h"

namespace {

constexpr size_t TABLE_OFFSET = 32;  // where a dump image keeps the table
// The fetch-by-handle walk costs time quadratic in the number of
// structures; it is compared over this many visits at most.
constexpr uint16_t REFERENCE_VISITS = 256;
const char CONFIG[] = "ProductName=Fuzz\r\nVersion=5\r\n";
constexpr int32_t CONFIGURED_VERSION = 5;

using Visits = std::vector<const uint8_t *>;

void Record(SmbiosStructurePointer s, void *context) {
  static_cast<Visits *>(context)->push_back(s.Raw);
}

bool NulBefore(const uint8_t *p, const uint8_t *end) {
  return p < end && std::memchr(p, 0, static_cast<size_t>(end - p)) != nullptr;
}

// A string lookup on a cursor anywhere in the table: a string it returns
// ends inside the table, and a cursor it moves goes forward and stays
// inside.
void CheckStringLookup(uint8_t *at, const uint8_t *end, uint16_t number) {
  SmbiosStructurePointer cursor;
  cursor.Raw = at;
  const char *text = GetSmbiosString(&cursor, number);
  const uint8_t *p = reinterpret_cast<const uint8_t *>(text);
  if (number == 0) {
    FUZZ_CHECK(text == nullptr && cursor.Raw == at, "string 0");
  } else if (text != nullptr) {
    FUZZ_CHECK(p > at && NulBefore(p, end), "string " + std::to_string(number) + " runs outside");
    FUZZ_CHECK(cursor.Raw == at, "a found string moved the cursor");
  } else {
    FUZZ_CHECK(cursor.Raw > at && cursor.Raw <= end, "a missing string left the cursor outside");
  }
}

// A visited structure lies whole inside the table: a header with a Length
// of at least 4, and a string-set that ends with two NULs before the end
// bound. (That it is the first structure bearing its handle is what the
// comparison with the fetch-by-handle walk shows.)
void CheckVisited(const uint8_t *s, const uint8_t *end) {
  const SmbiosStructureHeader *header = reinterpret_cast<const SmbiosStructureHeader *>(s);
  FUZZ_CHECK(end - s >= static_cast<ptrdiff_t>(sizeof(SmbiosStructureHeader)) &&
                 header->Length >= sizeof(SmbiosStructureHeader),
             "visited structure without a whole header");
  SmbiosStructurePointer cursor;
  cursor.Raw = const_cast<uint8_t *>(s);
  FUZZ_CHECK(GetSmbiosString(&cursor, 0xFFFF) == nullptr, "string 0xFFFF exists");
  const ptrdiff_t length = cursor.Raw - s;
  FUZZ_CHECK(length >= header->Length + 2 && cursor.Raw <= end,
             "structure of " + std::to_string(length) + " bytes outside the table");
  FUZZ_CHECK(cursor.Raw[-1] == 0 && cursor.Raw[-2] == 0, "structure does not end in two NULs");

  for (uint16_t number : {uint16_t{0}, uint16_t{1}, uint16_t{2}, uint16_t{0xFFFF}}) {
    CheckStringLookup(const_cast<uint8_t *>(s), end, number);
  }
}

std::vector<std::u16string> ExpectedScripts(const Visits &visits, bool *undecided) {
  std::vector<std::u16string> scripts;
  *undecided = false;
  for (const uint8_t *s : visits) {
    if (s[0] != SMBIOS_TYPE_BIOS_INFORMATION) continue;
    SmbiosStructurePointer cursor;
    cursor.Raw = const_cast<uint8_t *>(s);
    const char *version = GetSmbiosString(&cursor, 2);
    if (version == nullptr) {
      *undecided = true;
      continue;
    }
    scripts.push_back(CONFIGURED_VERSION > ParseVersionNumber(version) ? u"UpdateHWOld.nsh"
                                                                        : u"UpdateHWNew.nsh");
  }
  return scripts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  uint8_t header[TABLE_OFFSET] = {};
  std::memcpy(header, data, std::min(size, sizeof(header)));

  sim::Firmware fw;
  uint8_t *entry_bytes = fw.AllocateLow(sizeof(SmbiosEntryPoint));
  std::memcpy(entry_bytes, header, sizeof(SmbiosEntryPoint));
  SmbiosEntryPoint *entry = reinterpret_cast<SmbiosEntryPoint *>(entry_bytes);
  const uint16_t table_length = entry->TableLength;
  const uint16_t declared_count = entry->NumberOfSmbiosStructures;

  uint8_t *table = fw.AllocateLow(table_length);
  size_t available = size > TABLE_OFFSET ? size - TABLE_OFFSET : 0;
  std::memcpy(table, data + TABLE_OFFSET, std::min<size_t>(available, table_length));
  const uint8_t *end = table + table_length;
  entry->TableAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(table));

  EFI_GUID guid;
  std::memcpy(&guid, SMBIOS_TABLE_GUID_BYTES, sizeof(guid));
  fw.AddConfigurationTable(guid, entry_bytes);
  fw.InstallGlobals();

  const bool anchored = std::memcmp(header, "_SM_", 4) == 0;
  FUZZ_CHECK(FindSmbiosEntryPoint() == anchored, "lookup disagrees with the anchor");
  FUZZ_CHECK(fw.ConsoleLines().size() == (anchored ? 0u : 1u), "lookup message");

  // The walk runs on every input, anchored or not.
  gSmbiosEntryPoint = entry;
  gSmbiosTableStart.Raw = table;

  Visits one_pass;
  unsigned count = WalkSmbiosTable(declared_count, Record, &one_pass);
  FUZZ_CHECK(count == one_pass.size() && count <= declared_count, "visit count");
  for (size_t i = 0; i < one_pass.size(); ++i) {
    FUZZ_CHECK(one_pass[i] >= table && one_pass[i] < end, "visit outside the table");
    FUZZ_CHECK(i == 0 || one_pass[i] > one_pass[i - 1],
               "structure " + std::to_string(i) + " visited out of order or twice");
    CheckVisited(one_pass[i], end);
  }

  uint16_t compared = std::min(declared_count, REFERENCE_VISITS);
  Visits reference;
  testsupport::FetchByHandleWalk(compared, Record, &reference);
  Visits prefix(one_pass.begin(), one_pass.begin() + std::min<size_t>(one_pass.size(), compared));
  FUZZ_CHECK(reference == prefix, "one-pass walk visited " + std::to_string(prefix.size()) +
                                      " structures, fetching by handle " +
                                      std::to_string(reference.size()));

  if (table_length != 0) {
    uint8_t *at = table + static_cast<size_t>(header[TABLE_OFFSET - 1]) * table_length / 256;
    for (uint16_t number : {uint16_t{1}, uint16_t{2}, uint16_t{3}, uint16_t{0xFFFF}}) {
      CheckStringLookup(at, end, number);
    }
  }

  // A whole run on the same firmware.
  bool undecided = false;
  std::vector<std::u16string> expected =
      anchored ? ExpectedScripts(one_pass, &undecided) : std::vector<std::u16string>();
  fw.AddFile("UpdateConfig.ini", CONFIG);
  EFI_STATUS status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  FUZZ_CHECK(fw.Executed() == expected, "ran " + std::to_string(fw.Executed().size()) +
                                            " scripts, expected " + std::to_string(expected.size()));
  // Success only for a decision made: every BIOS Information structure
  // reached ran its script, and there was at least one.
  const bool decided = anchored && !undecided && !expected.empty();
  FUZZ_CHECK(status == (decided ? EFI_SUCCESS : EFI_ABORTED), "status " + std::to_string(status));
  FUZZ_CHECK(sim::LeakReport(fw).empty(), sim::LeakReport(fw));
  return 0;
}
