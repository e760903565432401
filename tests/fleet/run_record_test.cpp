// One run record: which lines are records and what is wrong with the
// others, what a record's time names, and which serial numbers tell
// machines apart.
#include "fleet/run_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image_record_line.h"

namespace {

TEST(ParseRecordLine, TakesTheImagesLinesAndNamesWhatIsWrongWithOthers) {
  struct Case {
    const char *name;
    std::string line;
    const char *why;  // null: a record
  };
  const Case cases[] = {
      {"the image's line", IMAGE_LINE, nullptr},
      {"the least a record holds", R"({"script":null,"ran":false})", nullptr},
      {"a line cut by a power cut", IMAGE_LINE.substr(0, 120), "not JSON (a cut or damaged line)"},
      {"two records run together", IMAGE_LINE + IMAGE_LINE, "not JSON (a cut or damaged line)"},
      {"bytes that are not UTF-8", "{\"script\":null,\"ran\":false,\"serial\":\"\xe9\"}",
       "not JSON (a cut or damaged line)"},
      {"an array", "[1,2]", "not a JSON object"},
      {"no ran", R"({"script":null})", "no \"ran\" true or false"},
      {"ran as text", R"({"script":null,"ran":"yes"})", "no \"ran\" true or false"},
      {"no script", R"({"ran":true})", "no \"script\""},
      {"a number for a serial", R"({"script":null,"ran":true,"serial":5})",
       "\"serial\" is neither a text nor null"},
      {"an object for a message", R"({"script":null,"ran":true,"message":{}})",
       "\"message\" is neither a text nor null"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fleet::RolloutRecord record;
    std::string why;
    bool parsed = fleet::ParseRecordLine(c.line, &record, &why);
    EXPECT_EQ(parsed, c.why == nullptr);
    if (c.why != nullptr) {
      EXPECT_EQ(why, c.why);
    }
  }
  fleet::RolloutRecord record;
  std::string why;
  ASSERT_TRUE(fleet::ParseRecordLine(IMAGE_LINE, &record, &why));
  EXPECT_EQ(record.serial, "SN-1");
  EXPECT_EQ(record.uuid, "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(record.summary.script, "UpdateHWOld.nsh");
  EXPECT_TRUE(record.summary.ran);
  EXPECT_FALSE(record.summary.has_message);
  EXPECT_EQ(record.product, "Model7");
}

TEST(SerialTellsMachinesApart, PlaceholdersAndRepeatsTellNothing) {
  for (const char *serial : {"", "   ", "To Be Filled By O.E.M.", "DEFAULT STRING", "System Serial Number",
                             "Not Specified  ", "0000000000", "xxxxxx", "0123456789", "N/A"}) {
    SCOPED_TRACE(serial);
    EXPECT_FALSE(fleet::SerialTellsMachinesApart(serial));
  }
  for (const char *serial : {"ACM7T0042", "SN-1", "00000001", "CZ12345678", "A"}) {
    SCOPED_TRACE(serial);
    EXPECT_EQ(fleet::SerialTellsMachinesApart(serial), std::string(serial) != "A");
  }
}

TEST(RecordInstant, TheMomentATimeNames) {
  const struct {
    const char *time;
    bool valid;
    int64_t seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", true, 0},
      {"1970-01-01T00:00:00", true, 0},  // no zone: taken as UTC
      {"2026-03-01T09:00:00+02:00", true, 1772348400},
      {"2026-03-01T07:00:00Z", true, 1772348400},
      {"2026-03-01T01:30:00-05:30", true, 1772348400},
      {"2024-02-29T12:00:00Z", true, 1709208000},
      {"2026-03-01 07:00:00", false, 0},
      {"2026-13-01T07:00:00Z", false, 0},
      {"2026-03-01T07:00:00+2:00", false, 0},
      {"2026-03-01T07:00", false, 0},
      {"", false, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.time);
    int64_t seconds = -1;
    EXPECT_EQ(fleet::RecordInstant(c.time, &seconds), c.valid);
    if (c.valid) {
      EXPECT_EQ(seconds, c.seconds);
    }
  }
}

}  // namespace
