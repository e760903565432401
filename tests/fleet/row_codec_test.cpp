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
    fleet::MachineFacts &facts = row.facts;
    facts.has_product = true;
    facts.product = RandomText(&random);
    facts.bios.resize(1);
    facts.bios[0].has_field_string = true;
    facts.bios[0].field_string = RandomText(&random);
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
    facts.has_hwid_field[i % HWID_FIELD_COUNT] = true;
    facts.hwid_field[i % HWID_FIELD_COUNT] = RandomText(&random);
    for (int id = 0; id < HARDWARE_ID_COUNT; ++id) {
      facts.hardware_ids.Present[id] = (random() & 1) != 0;
      for (uint8_t &byte : facts.hardware_ids.Id[id]) byte = facts.hardware_ids.Present[id] ? random() : 0;
    }
    SCOPED_TRACE(testing::PrintToString(facts.product));

    std::string bytes = fleet::RowToTransport(row);
    fleet::FleetRow back;
    ASSERT_TRUE(fleet::RowFromTransport(bytes, &back));
    EXPECT_EQ(back.input, row.input);
    EXPECT_EQ(back.facts.product, facts.product);
    ASSERT_EQ(back.facts.bios.size(), 1u);
    EXPECT_EQ(back.facts.bios[0].field_string, facts.bios[0].field_string);
    for (int f = 0; f < HWID_FIELD_COUNT; ++f) {
      EXPECT_EQ(back.facts.has_hwid_field[f], facts.has_hwid_field[f]);
      EXPECT_EQ(back.facts.hwid_field[f], facts.hwid_field[f]);
    }
    EXPECT_EQ(std::memcmp(&back.facts.hardware_ids, &facts.hardware_ids, sizeof(facts.hardware_ids)), 0);
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
  one.facts.has_serial = true;
  one.facts.serial = "SN-1";
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
