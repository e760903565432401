// Structure and string access on hand-made tables, each placed so that the
// byte after the table is unmapped: a read past the end bound faults.
#include "smbios/structure_table.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/firmware.h"
#include "smbios/entry_point.h"
#include "support/place_smbios_table.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;

class StructureTableTest : public ::testing::Test {
 protected:
  void SetUp() override { fw_.InstallGlobals(); }

  // Copies `bytes` to the end of a guarded block and makes it the table, with
  // `length` as the Structure Table Length (default: all of it).
  uint8_t *Place(const std::vector<uint8_t> &bytes, int length = -1) {
    return testsupport::PlaceSmbiosTable(
        &fw_, &entry_, bytes, static_cast<uint16_t>(length < 0 ? bytes.size() : length));
  }

  sim::Firmware fw_;
  SmbiosEntryPoint entry_ = {};
};

TEST_F(StructureTableTest, GetSmbiosStringFindsStringsAndMovesCursorOnlyWhenMissing) {
  SmbiosTableBuilder b;
  b.Add(1, 0x10, {"A", "B"}).Add(2, 0x11, {});
  uint8_t *table = Place(b.Bytes());

  SmbiosStructurePointer cursor = {};
  cursor.Raw = table;
  const char *s = GetSmbiosString(&cursor, 2);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "B");
  EXPECT_EQ(cursor.Raw, table);

  EXPECT_EQ(GetSmbiosString(&cursor, 0), nullptr);
  EXPECT_EQ(cursor.Raw, table);

  EXPECT_EQ(GetSmbiosString(&cursor, 3), nullptr);
  EXPECT_EQ(cursor.Raw, table + b.StartOf(1));

  // Without strings: string 1 is the empty first NUL, string 2 skips both.
  s = GetSmbiosString(&cursor, 1);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "");
  EXPECT_EQ(cursor.Raw, table + b.StartOf(1));
  EXPECT_EQ(GetSmbiosString(&cursor, 2), nullptr);
  EXPECT_EQ(cursor.Raw, table + b.Bytes().size());
}

TEST_F(StructureTableTest, GetSmbiosStructureWalksHandleByHandleInTableOrder) {
  SmbiosTableBuilder b;
  b.Add(1, 0x20, {"x"}).AddBios(0x05, "1.26").Add(127, 0x30, {});
  uint8_t *table = Place(b.Bytes());

  uint16_t handle = 0x20;
  SmbiosStructurePointer s = {};
  uint16_t length = 99;
  ASSERT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_SUCCESS);
  EXPECT_EQ(s.Raw, table);
  EXPECT_EQ(length, b.StartOf(1));  // whole structure, final NUL included
  EXPECT_EQ(handle, 0x05);          // the next structure's, not the next larger

  ASSERT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_SUCCESS);
  EXPECT_EQ(s.Raw, table + b.StartOf(1));
  EXPECT_EQ(handle, 0x30);

  // The last structure ends exactly at the end bound.
  ASSERT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_SUCCESS);
  EXPECT_EQ(handle, INVALID_SMBIOS_HANDLE);
  EXPECT_EQ(length, b.Bytes().size() - b.StartOf(2));
}

TEST_F(StructureTableTest, MissingHandleAndEmptyTableFailQuietly) {
  SmbiosTableBuilder b;
  b.Add(1, 0x20, {"x"});
  Place(b.Bytes());
  SmbiosStructurePointer s = {};
  s.Raw = reinterpret_cast<uint8_t *>(0x1234);
  uint16_t length = 7;
  uint16_t handle = 0x99;
  EXPECT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_INVALID_HANDLE);
  EXPECT_EQ(handle, INVALID_SMBIOS_HANDLE);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(s.Raw, reinterpret_cast<uint8_t *>(0x1234));  // nothing stored

  Place(b.Bytes(), 0);
  handle = 0x20;
  EXPECT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_INVALID_HANDLE);
  EXPECT_EQ(handle, INVALID_SMBIOS_HANDLE);
  EXPECT_TRUE(fw_.ConsoleLines().empty());
}

TEST_F(StructureTableTest, MissingOutputPlacesPrintInvalidHandleAndKeepTheHandle) {
  SmbiosTableBuilder b;
  b.Add(1, 0x20, {"x"});
  Place(b.Bytes());
  SmbiosStructurePointer s = {};
  uint16_t length = 0;
  uint16_t handle = 0x20;
  EXPECT_EQ(GetSmbiosStructure(&handle, nullptr, &length), SMBIOS_RESULT_INVALID_HANDLE);
  EXPECT_EQ(GetSmbiosStructure(&handle, &s, nullptr), SMBIOS_RESULT_INVALID_HANDLE);
  EXPECT_EQ(handle, 0x20);
  EXPECT_EQ(fw_.ConsoleLines(),
            (std::vector<std::u16string>{u"Invalid handle\r\n", u"Invalid handle\r\n"}));
}

TEST_F(StructureTableTest, RepeatedHandleAlwaysFetchesTheFirstBearer) {
  SmbiosTableBuilder b;
  b.Add(1, 0x07, {}).Add(2, 0x08, {}).Add(3, 0x07, {});
  uint8_t *table = Place(b.Bytes());
  uint16_t handle = 0x07;
  SmbiosStructurePointer s = {};
  uint16_t length = 0;
  ASSERT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_SUCCESS);
  EXPECT_EQ(s.Raw, table);
  EXPECT_EQ(handle, 0x08);
}

// Damaged tables: every case must end without reading past the end bound
// (the guard page turns such a read into a crash) and without returning the
// damaged structure.
TEST_F(StructureTableTest, DamagedStructuresEndTheTableWhereTheyBegin) {
  struct Case {
    const char *name;
    std::vector<uint8_t> damaged;  // appended after one good structure
  };
  const Case cases[] = {
      {"length below 4", {9, 2, 0x42, 0, 0, 0}},
      {"length 0", {9, 0, 0x42, 0, 0, 0}},
      {"formatted area past the end", {9, 40, 0x42, 0}},
      {"header cut short", {9, 4}},
      {"string-set without its final NUL", {9, 4, 0x42, 0, 'A', 0}},
      {"string without a NUL", {9, 4, 0x42, 0, 'A', 'B'}},
      {"formatted area ends at the bound", {9, 6, 0x42, 0, 1, 2}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SmbiosTableBuilder b;
    b.Add(1, 0x41, {"ok"});
    std::vector<uint8_t> bytes = b.Bytes();
    bytes.insert(bytes.end(), c.damaged.begin(), c.damaged.end());
    uint8_t *table = Place(bytes);

    uint16_t handle = 0x41;
    SmbiosStructurePointer s = {};
    uint16_t length = 0;
    ASSERT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_SUCCESS);
    uint16_t next = handle;
    if (c.damaged.size() >= 4) {
      EXPECT_EQ(next, 0x42);
    } else {
      EXPECT_EQ(next, INVALID_SMBIOS_HANDLE);
    }
    if (next != INVALID_SMBIOS_HANDLE) {
      EXPECT_EQ(GetSmbiosStructure(&handle, &s, &length), SMBIOS_RESULT_INVALID_HANDLE);
      EXPECT_EQ(handle, INVALID_SMBIOS_HANDLE);
    }
    // Strings of the damaged structure are never scanned past the bound.
    SmbiosStructurePointer cursor = {};
    cursor.Raw = table + b.StartOf(0) + b.Bytes().size();
    EXPECT_EQ(GetSmbiosString(&cursor, 2), nullptr);
    EXPECT_EQ(cursor.Raw, table + bytes.size());
  }
}

TEST_F(StructureTableTest, FirstHandleNeedsAWholeHeaderInsideTheTable) {
  SmbiosTableBuilder b;
  b.Add(0, 0x1234, {});
  Place(b.Bytes());
  EXPECT_EQ(SmbiosHandleAt(gSmbiosTableStart), 0x1234);
  Place(b.Bytes(), 3);
  EXPECT_EQ(SmbiosHandleAt(gSmbiosTableStart), INVALID_SMBIOS_HANDLE);
}

}  // namespace
