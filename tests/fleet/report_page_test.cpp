// The report page's writer on hand-made rows: hostile texts stay inside the
// page's JSON and come back out as the texts the page shows, the rows name
// their kits and outcomes the way the bars count them, and nothing is
// written before the page is whole. The drawing itself is tested in a
// browser (page_browser_test.py).
#include "fleet/report_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "fleet/report_writer.h"
#include "fleet/row_warnings.h"

namespace {

using Json = nlohmann::json;
using fleet::FleetRow;
using fleet::KitInfo;
using fleet::KitRuns;
using fleet::PageWriter;
using fleet::RunOutcome;

const char DATA_START[] = "<script type=\"application/json\" id=\"fleet-data\">";

RunOutcome Outcome(std::vector<std::string> scripts, EFI_STATUS status = EFI_SUCCESS,
               std::vector<std::string> messages = {}) {
  RunOutcome run;
  run.scripts = scripts;
  run.status = status;
  run.messages = messages;
  return run;
}

FleetRow Machine(const std::string &input, const std::string &product, const std::string &version) {
  FleetRow row;
  row.input = input;
  row.facts.has_manufacturer = true;
  row.facts.manufacturer = "Acme";
  row.facts.has_product = true;
  row.facts.product = product;
  fleet::BiosVersionFacts bios;
  bios.has_field_string = bios.has_string2 = true;
  bios.field_string = bios.string2 = version;
  row.facts.bios = {bios};
  return row;
}

KitInfo Kit(const std::string &folder, const std::string &version) {
  KitInfo kit;
  kit.folder = folder;
  kit.has_version = true;
  kit.version = version;
  return kit;
}

std::string Page(const std::vector<KitInfo> &kits, const std::vector<FleetRow> &rows) {
  std::ostringstream out;
  PageWriter page(kits, out);
  for (const FleetRow &row : rows) page.Add(row);
  page.Finish();
  return out.str();
}

// The page's data, read back as the page's script reads it.
Json Data(const std::string &page) {
  size_t start = page.find(DATA_START);
  if (start == std::string::npos) return Json();
  start += sizeof(DATA_START) - 1;
  size_t end = page.find("</script>", start);
  if (end == std::string::npos) return Json();
  return Json::parse(page.substr(start, end - start), nullptr, false);
}

std::string TextOf(const Json &data, const Json &index) {
  return index.get<int>() < 0 ? "(none)" : data["texts"][index.get<int>()].get<std::string>();
}

// A row's field by the name the data gives its column; null when the data
// has no such column.
Json Field(const Json &data, const Json &row, const std::string &name) {
  const Json &columns = data["columns"];
  auto found = std::find(columns.begin(), columns.end(), Json(name));
  if (found == columns.end()) return Json();
  return row[found - columns.begin()];
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ScriptSafeJson, EscapesWhatCouldEndOrConfuseAScriptElement) {
  const struct {
    std::string json, safe;
  } cases[] = {
      {"\"</script><!--\"", "\"\\u003c/script\\u003e\\u003c!--\""},
      {"\"a&b\"", "\"a\\u0026b\""},
      {"\"\x7F\"", "\"\\u007f\""},
      {"\"\xE2\x80\xA8|\xE2\x80\xA9\"", "\"\\u2028|\\u2029\""},
      // Neighbours of the two line separators, and other UTF-8, stay as they are.
      {"\"\xE2\x80\xA7\xE2\x80\xAA\xC3\xA9\"", "\"\xE2\x80\xA7\xE2\x80\xAA\xC3\xA9\""},
      {"{\"a\":[1,-1,null]}", "{\"a\":[1,-1,null]}"},
      {"\"\xE2\x80\"", "\"\xE2\x80\""},  // cut short at the end: nothing read past it
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(fleet::ScriptSafeJson(c.json), c.safe);
    Json before = Json::parse(c.json, nullptr, false), after = Json::parse(c.safe, nullptr, false);
    if (!before.is_discarded()) {
      EXPECT_EQ(after, before);
    }
  }
}

TEST(PageWriter, HostileTextsStayDataAndComeBackAsShown) {
  const struct {
    std::string raw;    // as the SMBIOS data or the kit holds it
    std::string shown;  // as the page shows it
  } cases[] = {
      {"<script>alert(1)</script>", "<script>alert(1)</script>"},
      {"</script><script>alert(2)</script>", "</script><script>alert(2)</script>"},
      {"\"'&<b>x</b><!--", "\"'&<b>x</b><!--"},
      {"tab\there\x1B[31m\x7F", "tab\\x09here\\x1B[31m\\x7F"},
      {"bad \xFF\xFE utf-8 \xC3", "bad \xEF\xBF\xBD\xEF\xBF\xBD utf-8 \xEF\xBF\xBD"},
      {"line\xE2\x80\xA8sep", "line\xE2\x80\xA8sep"},
      // The skeleton's places, as text: only the skeleton's own are filled.
      {"@SCRIPT@ @DATA@ @STYLE@", "@SCRIPT@ @DATA@ @STYLE@"},
  };
  std::vector<FleetRow> rows;
  std::vector<KitInfo> kits;
  for (const auto &c : cases) {
    FleetRow row = Machine("in/" + c.raw, c.raw, c.raw);
    row.facts.manufacturer = c.raw;
    row.warnings.push_back({"reads-as-zero", "sentence " + c.raw});
    KitInfo kit = Kit("kits/" + c.raw, c.raw);
    kit.has_product_name = true;
    kit.product_name = c.raw;
    kits.push_back(kit);
    row.kits.push_back({kit.folder, Outcome({"UpdateHWOld.nsh"}), Outcome({})});
    rows.push_back(row);
  }
  std::string page = Page(kits, rows);
  // Our two script elements and no other; no text of the data as markup.
  EXPECT_EQ(Count(page, "<script"), 2u);
  EXPECT_EQ(Count(page, "</script>"), 2u);
  EXPECT_EQ(Count(page, "<b>"), 0u);
  EXPECT_EQ(Count(page, "<!--"), 0u);
  EXPECT_EQ(Count(page, "\xE2\x80\xA8"), 0u);
  Json data = Data(page);
  ASSERT_TRUE(data.is_object()) << page.substr(0, 400);
  ASSERT_EQ(data["rows"].size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].shown);
    const Json &row = data["rows"][i];
    EXPECT_EQ(TextOf(data, Field(data, row, "input")), "in/" + cases[i].shown);
    for (const char *field : {"manufacturer", "product", "bios_version", "string2"}) {
      EXPECT_EQ(TextOf(data, Field(data, row, field)), cases[i].shown) << field;
    }
    EXPECT_EQ(TextOf(data, Field(data, row, "warnings")[1]), "sentence " + cases[i].shown);
    const Json &kit = data["kits"][Field(data, row, "runs")[0].get<int>()];
    EXPECT_EQ(kit, Json::array({"kits/" + cases[i].shown, cases[i].shown, cases[i].shown, nullptr}));
  }
}

TEST(PageWriter, RowsNameTheirKitsAndOutcomesAsTheBarsCountThem) {
  std::vector<KitInfo> kits = {Kit("kits/a", "2"), Kit("kits/b", "A07")};
  FleetRow one = Machine("one.bin", "Model7", "1.26");
  one.kits = {{"kits/b", Outcome({"UpdateHWNew.nsh"}), Outcome({}, EFI_ABORTED, {"ERROR: x", "second"})}};
  FleetRow several = Machine("several.bin", "Model7", "1.26");
  several.kits = {{"kits/a", Outcome({"UpdateHWOld.nsh", "UpdateHWNew.nsh"}), Outcome({"UpdateHWOld.nsh"})},
                  {"kits/b", Outcome({}, EFI_ABORTED), Outcome({}, EFI_ABORTED)}};
  FleetRow none = Machine("none.bin", "Other", "A05");
  none.warnings = {{"no-kit", "no kit serves \"Other\""}};
  FleetRow unknown = Machine("unknown.bin", "Model7", "1.26");
  unknown.kits = {{"kits/c", Outcome({"UpdateHWOld.nsh"}), Outcome({"UpdateHWOld.nsh"})}};
  FleetRow error;
  error.input = "junk.bin";
  error.error = "not an SMBIOS dump";

  Json data = Data(Page(kits, {one, several, none, unknown, error}));
  ASSERT_TRUE(data.is_object());
  const Json &rows = data["rows"];
  ASSERT_EQ(rows.size(), 5u);
  // Per kit run: kit, outcome class, outcome, -segments outcome, messages,
  // -segments messages.
  ASSERT_EQ(data["run_columns"], Json::array({"kit", "outcome", "shown", "segments", "messages",
                                               "segment_messages"}));
  auto runs = [&](const Json &row) {
    std::vector<std::string> texts;
    const Json list = Field(data, row, "runs");
    for (size_t i = 0; i < list.size(); i += 6) {
      std::string run = std::to_string(list[i].get<int>());
      for (size_t j = 1; j < 6; ++j) run += "|" + TextOf(data, list[i + j]);
      texts.push_back(run);
    }
    return texts;
  };
  EXPECT_EQ(runs(rows[0]), std::vector<std::string>(
                               {"1|UpdateHWNew.nsh|UpdateHWNew.nsh|no script, aborted||ERROR: x\nsecond"}));
  EXPECT_EQ(runs(rows[1]), std::vector<std::string>(
                               {"0|UpdateHWOld.nsh + UpdateHWNew.nsh|UpdateHWOld.nsh + UpdateHWNew.nsh|"
                                "UpdateHWOld.nsh||",
                                "1|no script|no script, aborted|no script, aborted||"}));
  EXPECT_TRUE(runs(rows[2]).empty());
  // A kit the writer was not told of joins the kit list rather than vanish.
  EXPECT_EQ(runs(rows[3]), std::vector<std::string>({"2|UpdateHWOld.nsh|UpdateHWOld.nsh|UpdateHWOld.nsh||"}));
  ASSERT_EQ(data["kits"].size(), 3u);
  EXPECT_EQ(data["kits"][2], Json::array({"kits/c", nullptr, nullptr, nullptr}));
  EXPECT_EQ(data["kits"][1], Json::array({"kits/b", nullptr, "A07", nullptr}));
  // An error row: the input and the reason, no runs, warnings, rollout or
  // hardware IDs.
  ASSERT_EQ(rows[4].size(), data["columns"].size());
  for (const char *list : {"runs", "warnings", "hwids"}) EXPECT_TRUE(Field(data, rows[4], list).empty()) << list;
  EXPECT_EQ(TextOf(data, Field(data, rows[4], "input")), "junk.bin");
  EXPECT_EQ(TextOf(data, Field(data, rows[4], "error")), "not an SMBIOS dump");
  for (const char *field : {"manufacturer", "product", "bios_version", "string2"}) {
    EXPECT_EQ(Field(data, rows[4], field), -1) << field;
  }
  // Repeated texts are stored once.
  EXPECT_EQ(std::count(data["texts"].begin(), data["texts"].end(), Json("Model7")), 1);
}

TEST(PageWriter, RowsWithoutKitsRunUnderTheReportsOnlyKit) {
  FleetRow row = Machine("m.bin", "Model7", "1.26");
  row.run = Outcome({"UpdateHWOld.nsh"});
  row.segments = Outcome({}, EFI_ABORTED);
  const struct {
    std::vector<KitInfo> kits;
    size_t runs;  // kit runs the row shows
  } cases[] = {
      {{Kit("kit", "2")}, 1},
      {{}, 1},  // no kit named at all: the one unnamed kit
      {{Kit("a", "2"), Kit("b", "3")}, 0},  // several kits and none named: no kit serves it
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.kits.size());
    Json data = Data(Page(c.kits, {row}));
    ASSERT_TRUE(data.is_object());
    const Json runs = Field(data, data["rows"][0], "runs");
    ASSERT_EQ(runs.size(), 6 * c.runs);
    if (c.runs) {
      EXPECT_EQ(runs[0], 0);
      EXPECT_EQ(TextOf(data, runs[1]), "UpdateHWOld.nsh");
      EXPECT_EQ(TextOf(data, runs[3]), "no script, aborted");
    }
    EXPECT_EQ(data["kits"].size(), std::max<size_t>(c.kits.size(), 1));
  }
}

TEST(PageWriter, WarningsInTheReportsOrderWithTheirMeanings) {
  FleetRow row = Machine("m.bin", "Model7", "1.26");
  row.kits = {{"kit", Outcome({}), Outcome({})}};
  row.warnings = {{"made-up-key", "a"}, {"runs-differ", "b"}, {"reads-as-zero", "c"}, {"runs-differ", "d"}};
  Json data = Data(Page({Kit("kit", "2")}, {row}));
  ASSERT_TRUE(data.is_object());
  EXPECT_EQ(data["warnings"],
            Json::array({Json::array({"reads-as-zero", fleet::WarningMeaning("reads-as-zero")}),
                         Json::array({"runs-differ", fleet::WarningMeaning("runs-differ")}),
                         Json::array({"made-up-key", ""})}));
  // The machine keeps each of its warnings, in its own order.
  EXPECT_EQ(data["warning_columns"], Json::array({"key", "sentence"}));
  const Json warnings = Field(data, data["rows"][0], "warnings");
  ASSERT_EQ(warnings.size(), 8u);
  EXPECT_EQ(TextOf(data, warnings[0]) + TextOf(data, warnings[1]), "made-up-keya");
  EXPECT_EQ(TextOf(data, warnings[6]) + TextOf(data, warnings[7]), "runs-differd");
}

TEST(PageWriter, WithRecordsRowsCarryTheirStateAndLatestRecord) {
  FleetRow visited = Machine("visited.bin", "Model7", "1.26");
  visited.kits = {{"kit", Outcome({"UpdateHWOld.nsh"}), Outcome({"UpdateHWOld.nsh"})}};
  visited.rollout = "refused";
  visited.has_record = true;
  visited.record.where = "r.jsonl:3";
  visited.record.status = "0x15";
  visited.record.has_message = true;
  visited.record.message = "</script><b>\x1b";
  FleetRow unvisited = visited;
  unvisited.input = "unvisited.bin";
  unvisited.rollout = "not-visited";
  unvisited.has_record = false;
  FleetRow stateless = visited;
  stateless.input = "stateless.bin";
  stateless.rollout.clear();
  stateless.record.has_time = stateless.record.has_script = stateless.record.ran = true;
  stateless.record.time = "2026-01-02T03:04:05Z";
  stateless.record.script = "UpdateHWOld.nsh";
  stateless.record.has_message = false;

  for (bool records : {false, true}) {
    SCOPED_TRACE(records);
    std::ostringstream out;
    PageWriter page({Kit("kit", "2")}, out, records);
    for (const FleetRow &row : {visited, unvisited, stateless}) page.Add(row);
    page.Finish();
    Json data = Data(out.str());
    ASSERT_TRUE(data.is_object());
    EXPECT_EQ(data["records"], records);
    const Json &rows = data["rows"];
    ASSERT_EQ(rows.size(), 3u);
    const char *const ROLLOUT[] = {"rollout",    "record_where",  "record_time",   "record_script",
                                   "record_ran", "record_status", "record_message"};
    if (!records) {
      // Without records the rows have no rollout columns at all.
      for (const char *name : ROLLOUT) {
        EXPECT_EQ(std::count(data["columns"].begin(), data["columns"].end(), Json(name)), 0) << name;
      }
      for (const Json &row : rows) EXPECT_EQ(row.size(), data["columns"].size());
      continue;
    }
    // State, then the record's place, time, script, ran, status, message.
    auto rollout = [&](const Json &row) {
      std::string text;
      for (size_t i = 0; i < std::size(ROLLOUT); ++i) {
        Json value = Field(data, row, ROLLOUT[i]);
        text += (i ? "|" : "") + (i == 4 ? std::to_string(value.get<int>()) : TextOf(data, value));
      }
      return text;
    };
    EXPECT_EQ(rollout(rows[0]), "refused|r.jsonl:3|(none)|(none)|0|0x15|</script><b>\\x1B");
    EXPECT_EQ(rollout(rows[1]), "not-visited|(none)|(none)|(none)|-1|(none)|(none)");
    EXPECT_EQ(rollout(rows[2]), "(none)|r.jsonl:3|2026-01-02T03:04:05Z|UpdateHWOld.nsh|1|0x15|(none)");
    EXPECT_EQ(out.str().find("</script><b>"), std::string::npos);
  }
}

TEST(PageWriter, WritesNothingUntilThePageIsWhole) {
  std::ostringstream out;
  PageWriter page({Kit("kit", "2")}, out);
  FleetRow row = Machine("m.bin", "Model7", "1.26");
  for (int i = 0; i < 100; ++i) page.Add(row);
  EXPECT_TRUE(out.str().empty());
  page.Finish();
  const std::string &text = out.str();
  EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 8), "</html>\n");
  ASSERT_TRUE(Data(text).is_object());
  EXPECT_EQ(Data(text)["rows"].size(), 100u);
  // The report's own writer gives the same page for the html form.
  std::ostringstream through;
  fleet::ReportWriter writer(fleet::Format::Html, through, {Kit("kit", "2")});
  for (int i = 0; i < 100; ++i) writer.Add(row);
  EXPECT_TRUE(through.str().empty());
  writer.Finish();
  EXPECT_EQ(through.str(), text);
}

}  // namespace
