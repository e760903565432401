// The one-pass walk against the walk that fetches handle after handle with
// GetSmbiosStructure: both must visit the same structures in the same order
// on every table, well-formed or not.
#include "smbios/structure_walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

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
