// The row codec over random rows: a row handed over by a worker reads back
// with every byte of every text, whatever bytes it held, and a damaged
// frame never ends the report.
#include "fleet/row_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// Random texts weighted toward what breaks text handling: control bytes,
// C1 characters, stray continuation bytes, cut sequences, formula marks.
std::string RandomText(std::mt19937 *random) {
  static const std::string PIECES[] = {"a", "1.07", "-", "=", "+", "@", "\t", "\r", "\n", "\x1B[31m",
                                       "\xC2\x9B", "\xC2\x9D", "\xC2\xA0", "\xE9", "\xFF", "\x80",
                                       "\xC3", "\xE2\x82", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\xA0\x80",
                                       "\xC0\xAF", "\xF4\x90\x80\x80", "(", "|", "!", std::string(1, '\0'), "\"", ","};
  std::uniform_int_distribution<size_t> count(0, 12), piece(0, sizeof(PIECES) / sizeof(PIECES[0]) - 1);
  std::string text;
  for (size_t n = count(*random); n > 0; --n) text += PIECES[piece(*random)];
  return text;
}

TEST(RowCodec, WorkerRowsKeepEveryByteAndDamagedOnesAreRefused) {
  std::mt19937 random(2);
  for (int i = 0; i < 2000; ++i) {
    fleet::FleetRow row;
    row.input = "/dumps/" + RandomText(&random);
    row.has_product = true;
    row.product = RandomText(&random);
    row.has_bios_version = true;
    row.bios_version = RandomText(&random);
    fleet::KitRuns kit;
    kit.kit = "/kits/" + RandomText(&random);
    kit.run.scripts = {"UpdateHWOld.nsh"};
    kit.run.messages = {RandomText(&random)};
    kit.run.status = random();
    kit.segments = kit.run;
    row.kits = {kit};
    row.run = kit.run;
    row.segments = kit.segments;
    row.warnings = {{"runs-differ", RandomText(&random)}};
    // Some fields and IDs present, the others absent.
    row.has_hwid_field[i % HWID_FIELD_COUNT] = true;
    row.hwid_field[i % HWID_FIELD_COUNT] = RandomText(&random);
    for (int id = 0; id < HARDWARE_ID_COUNT; ++id) {
      row.hardware_ids.Present[id] = (random() & 1) != 0;
      for (uint8_t &byte : row.hardware_ids.Id[id]) byte = row.hardware_ids.Present[id] ? random() : 0;
    }
    SCOPED_TRACE(testing::PrintToString(row.product));

    std::string bytes = fleet::RowToTransport(row);
    fleet::FleetRow back;
    ASSERT_TRUE(fleet::RowFromTransport(bytes, &back));
    EXPECT_EQ(back.input, row.input);
    EXPECT_EQ(back.product, row.product);
    EXPECT_EQ(back.bios_version, row.bios_version);
    for (int f = 0; f < HWID_FIELD_COUNT; ++f) {
      EXPECT_EQ(back.has_hwid_field[f], row.has_hwid_field[f]);
      EXPECT_EQ(back.hwid_field[f], row.hwid_field[f]);
    }
    EXPECT_EQ(std::memcmp(&back.hardware_ids, &row.hardware_ids, sizeof(row.hardware_ids)), 0);
    ASSERT_EQ(back.kits.size(), 1u);
    EXPECT_EQ(back.kits[0].kit, kit.kit);
    EXPECT_EQ(back.run.messages, kit.run.messages);
    EXPECT_EQ(back.run.status, kit.run.status);
    ASSERT_EQ(back.warnings.size(), 1u);
    EXPECT_EQ(back.warnings[0].sentence, row.warnings[0].sentence);

    // A frame cut short or with a byte changed is refused or read as some
    // row; it never ends the report.
    std::string damaged = bytes.substr(0, random() % bytes.size());
    fleet::RowFromTransport(damaged, &back);
    damaged = bytes;
    damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
    fleet::RowFromTransport(damaged, &back);
  }
}

}  // namespace
