// The one-pass walk: on tables laid out byte by byte, the structures it
// visits, written out; and against the walk that fetches handle after
// handle with GetSmbiosStructure, which must visit the same structures in
// the same order on every table, well-formed or not.
#include "smbios/structure_walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>

#include "sim/firmware.h"
#include "smbios/entry_point.h"
#include "smbios/structure_table.h"
#include "support/fetch_by_handle_walk.h"
#include "support/place_smbios_table.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;
using Visits = std::vector<const uint8_t *>;

void Record(SmbiosStructurePointer s, void *context) {
  static_cast<Visits *>(context)->push_back(s.Raw);
}

class StructureWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { fw_.InstallGlobals(); }

  void Place(const std::vector<uint8_t> &bytes, uint16_t length) {
    testsupport::PlaceSmbiosTable(&fw_, &entry_, bytes, length);
  }

  void ExpectSameVisits(uint16_t declared_count) {
    Visits reference;
    testsupport::FetchByHandleWalk(declared_count, Record, &reference);
    Visits one_pass;
    unsigned count = WalkSmbiosTable(declared_count, Record, &one_pass);
    EXPECT_EQ(count, one_pass.size());
    EXPECT_EQ(one_pass, reference);
  }

  sim::Firmware fw_;
  SmbiosEntryPoint entry_ = {};
};

// A structure with the empty string-set: 6 bytes.
std::vector<uint8_t> Bare(uint8_t type, uint16_t handle) {
  return {type, 4, static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8), 0, 0};
}

// A structure with the one string "a": 7 bytes.
std::vector<uint8_t> OneString(uint8_t type, uint16_t handle) {
  return {type, 4, static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8), 'a', 0, 0};
}

std::vector<uint8_t> Table(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> bytes;
  for (const std::vector<uint8_t> &part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

// A visit as the test writes it: table offset, type, handle.
using Visit = std::tuple<size_t, uint8_t, uint16_t>;

struct VisitLog {
  const uint8_t *table;
  std::vector<Visit> visits;
};

void Log(SmbiosStructurePointer s, void *context) {
  VisitLog *log = static_cast<VisitLog *>(context);
  uint8_t type = s.Hdr->Type;
  uint16_t handle = s.Hdr->Handle;
  log->visits.emplace_back(static_cast<size_t>(s.Raw - log->table), type, handle);
}

TEST_F(StructureWalkTest, HandMadeTablesVisitTheStructuresWrittenOut) {
  const uint16_t ALL = 0xFFFF;
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    int length;  // the declared Structure Table Length; -1: the bytes' size
    uint16_t count;
    bool smbios3;  // the 3.x entry point, its maximum size the length
    std::vector<Visit> visits;
  } const cases[] = {
      {"unique handles", Table({OneString(0, 0), Bare(1, 1), Bare(127, 2)}), -1, ALL, false,
       {{0, 0, 0}, {7, 1, 1}, {13, 127, 2}}},
      {"the declared count", Table({OneString(0, 0), Bare(1, 1), Bare(127, 2)}), -1, 2, false,
       {{0, 0, 0}, {7, 1, 1}}},
      {"a count of 0", Table({OneString(0, 0), Bare(1, 1)}), -1, 0, false, {}},
      {"a repeat of the first handle", Table({Bare(1, 5), Bare(2, 6), Bare(3, 5), Bare(4, 7)}),
       -1, ALL, false, {{0, 1, 5}, {6, 2, 6}}},
      {"a repeat of a later handle",
       Table({Bare(1, 1), Bare(2, 2), Bare(3, 3), Bare(4, 2), Bare(0, 9)}), -1, ALL, false,
       {{0, 1, 1}, {6, 2, 2}, {12, 3, 3}}},
      {"the same handle twice in a row", Table({Bare(1, 4), Bare(2, 4), Bare(0, 6)}), -1, ALL,
       false, {{0, 1, 4}}},
      {"handle 0xFFFF inside", Table({Bare(1, 1), Bare(2, 0xFFFF), Bare(0, 3)}), -1, ALL, false,
       {{0, 1, 1}}},
      {"handle 0xFFFF first", Table({Bare(1, 0xFFFF), Bare(0, 3)}), -1, ALL, false, {}},
      {"a Length byte below 4", Table({Bare(1, 1), {3, 2, 3, 0, 0, 0}, Bare(0, 4)}), -1, ALL,
       false, {{0, 1, 1}}},
      {"a formatted area past the end", Table({Bare(1, 1), {3, 40, 3, 0, 0, 0}}), -1, ALL, false,
       {{0, 1, 1}}},
      {"a string-set without its final NUL", Table({Bare(1, 1), {2, 4, 2, 0, 'a', 0}}), -1, ALL,
       false, {{0, 1, 1}}},
      {"the length cuts the second structure", Table({Bare(1, 1), OneString(2, 2)}), 12, ALL,
       false, {{0, 1, 1}}},
      {"the length ends inside the first header", Table({Bare(1, 1)}), 3, ALL, false, {}},
      {"a length of 0", Table({Bare(1, 1)}), 0, ALL, false, {}},
      {"End-of-Table inside a 2.x table", Table({Bare(127, 1), Bare(0, 2)}), -1, ALL, false,
       {{0, 127, 1}, {6, 0, 2}}},
      {"a 3.x table ends at End-of-Table", Table({Bare(0, 1), Bare(127, 2), Bare(1, 3)}), -1, ALL,
       true, {{0, 0, 1}, {6, 127, 2}}},
      {"a 3.x table without End-of-Table ends at its maximum size",
       Table({Bare(0, 1), Bare(1, 2), Bare(2, 3)}), 14, ALL, true, {{0, 0, 1}, {6, 1, 2}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    uint16_t length = static_cast<uint16_t>(c.length < 0 ? c.bytes.size() : c.length);
    Place(c.bytes, length);
    Smbios3EntryPoint entry3 = {};
    entry3.TableMaximumSize = length;
    gSmbios3EntryPoint = c.smbios3 ? &entry3 : nullptr;
    VisitLog log = {gSmbiosTableStart.Raw, {}};
    unsigned count = WalkSmbiosTable(c.count, Log, &log);
    gSmbios3EntryPoint = nullptr;
    EXPECT_EQ(log.visits, c.visits);
    EXPECT_EQ(count, c.visits.size());
  }
}

TEST_F(StructureWalkTest, HandMadeTables) {
  struct Case {
    const char *name;
    SmbiosTableBuilder table;
  };
  std::vector<Case> cases;
  cases.push_back({"unique handles", SmbiosTableBuilder()});
  cases.back().table.AddBios(0, "1").Add(1, 1, {"a"}).Add(2, 2, {});
  cases.push_back({"repeat of the first handle", SmbiosTableBuilder()});
  cases.back().table.AddBios(5, "1").Add(1, 6, {}).Add(2, 5, {}).Add(3, 7, {});
  cases.push_back({"repeat of a later handle", SmbiosTableBuilder()});
  cases.back().table.Add(1, 1, {}).Add(2, 2, {}).Add(3, 3, {}).Add(4, 2, {}).AddBios(9, "3");
  cases.push_back({"same handle twice in a row", SmbiosTableBuilder()});
  cases.back().table.Add(1, 4, {}).Add(2, 4, {}).AddBios(6, "1");
  cases.push_back({"invalid handle inside", SmbiosTableBuilder()});
  cases.back().table.Add(1, 1, {}).Add(2, 0xFFFF, {}).AddBios(3, "1");
  cases.push_back({"first handle invalid", SmbiosTableBuilder()});
  cases.back().table.Add(1, 0xFFFF, {}).AddBios(3, "1");
  cases.push_back({"damaged third structure", SmbiosTableBuilder()});
  cases.back().table.Add(1, 1, {}).Add(2, 2, {}).Raw({3, 1, 3, 0, 0, 0});

  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> &bytes = c.table.Bytes();
    for (uint16_t length : {static_cast<uint16_t>(bytes.size()), static_cast<uint16_t>(bytes.size() - 1),
                            uint16_t{0}, uint16_t{3}}) {
      Place(bytes, length);
      for (uint16_t count : {0, 1, 2, 3, 100}) ExpectSameVisits(count);
    }
  }
}

// Random tables with few distinct handles (so handles repeat), odd Length
// bytes, missing string terminators and a Structure Table Length that may
// cut anywhere.
TEST_F(StructureWalkTest, RandomTablesVisitTheSameStructures) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes;
    int structures = static_cast<int>(rng() % 12);
    for (int i = 0; i < structures; ++i) {
      uint8_t length = static_cast<uint8_t>(rng() % 8 == 0 ? rng() % 6 : 4 + rng() % 8);
      uint16_t handle = static_cast<uint16_t>(rng() % 16 == 0 ? 0xFFFF : rng() % 10);
      bytes.push_back(static_cast<uint8_t>(rng() % 3));
      bytes.push_back(length);
      bytes.push_back(static_cast<uint8_t>(handle));
      bytes.push_back(static_cast<uint8_t>(handle >> 8));
      for (int b = 4; b < length; ++b) bytes.push_back(static_cast<uint8_t>(rng()));
      int strings = static_cast<int>(rng() % 3);
      for (int s = 0; s < strings; ++s) {
        bytes.push_back(static_cast<uint8_t>('A' + s));
        if (rng() % 20 != 0) bytes.push_back(0);
      }
      if (strings == 0) bytes.push_back(0);
      if (rng() % 20 != 0) bytes.push_back(0);
    }
    uint16_t length = static_cast<uint16_t>(bytes.empty() ? 0 : rng() % (bytes.size() + 1));
    if (rng() % 2) length = static_cast<uint16_t>(bytes.size());
    Place(bytes, length);
    ExpectSameVisits(static_cast<uint16_t>(rng() % 2 ? 0xFFFF : rng() % 8));
  }
}

}  // namespace
