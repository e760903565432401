// The row codec over random rows: a row handed over by a worker reads back
// with every byte of every text, whatever bytes it held, and a damaged
// frame never ends the report.
#include "fleet/row_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "support/random_text.h"

namespace {

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

// The json form's rows read back as the same rows: one kit's runs at the
// top, several kits' under "runs", an error row, a record; the status's
// error bit kept by the number beside its text.
TEST(RowCodec, JsonRowsReadBackWhole) {
  auto run = [](std::vector<std::string> scripts, EFI_STATUS status) {
    fleet::RunOutcome outcome;
    outcome.scripts = scripts;
    outcome.messages = {"line"};
    outcome.status = status;
    return outcome;
  };
  fleet::FleetRow one;
  one.input = "one.bin";
  one.has_serial = true;
  one.serial = "SN-1";
  one.kits = {{"kits/a", run({"UpdateHWOld.nsh"}, EFI_SUCCESS), run({}, EFI_ABORTED)}};
  one.run = one.kits[0].run;
  one.segments = one.kits[0].segments;
  one.kit_sha256 = std::string(64, 'a');
  one.warnings = {{"runs-differ", "the two runs decide differently"}};
  one.rollout = "refused";
  one.has_record = true;
  one.record.where = "r.jsonl:2";
  one.record.status = "0x15";
  one.record.has_message = true;
  one.record.message = "ERROR: x";
  fleet::FleetRow several = one;
  several.input = "several.bin";
  several.kits.push_back({"kits/b", run({"UpdateHWNew.nsh"}, EFI_SUCCESS), run({}, EFI_SUCCESS)});
  fleet::FleetRow error;
  error.input = "junk.bin";
  error.error = "not an SMBIOS dump";
  for (const fleet::FleetRow &row : {one, several, error}) {
    SCOPED_TRACE(row.input);
    std::string json = fleet::RowToJson(row);
    fleet::FleetRow back;
    ASSERT_TRUE(fleet::RowFromJson(json, &back)) << json;
    EXPECT_EQ(fleet::RowToJson(back), json);
    EXPECT_EQ(back.error, row.error);
    ASSERT_EQ(back.kits.size(), row.kits.size());
    for (size_t k = 0; k < row.kits.size(); ++k) {
      EXPECT_EQ(back.kits[k].kit, row.kits[k].kit);
      EXPECT_EQ(back.kits[k].run.scripts, row.kits[k].run.scripts);
      EXPECT_EQ(back.kits[k].segments.status, row.kits[k].segments.status);
    }
    EXPECT_EQ(back.record.message, row.record.message);
  }
  // Right syntax, wrong member types: refused or read as some row, never
  // the end of the report.
  for (const char *text : {"[]", "{\"input\":1}", "{\"input\":\"a\",\"kit\":\"k\",\"status\":[]}",
                           "{\"input\":\"a\",\"runs\":[{\"kit\":1}]}",
                           "{\"input\":\"a\",\"warnings\":{\"x\":1}}", "{\"input\":\"a\",\"error\":7}"}) {
    SCOPED_TRACE(text);
    fleet::FleetRow back;
    if (fleet::RowFromJson(text, &back)) {
      EXPECT_EQ(back.input, "a");
    }
  }
}

}  // namespace
