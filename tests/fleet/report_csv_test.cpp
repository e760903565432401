// The csv form's kit identity: the planned kit's kit_sha256 in a column of
// its own, after every earlier column, which keep their places for scripts
// that read them by position.
#include "fleet/report_csv.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fleet/report_writer.h"

namespace {

TEST(CsvFields, KitSha256ComesLastAndTheEarlierColumnsKeepTheirPlaces) {
  const std::string identity(64, 'e');
  fleet::KitRuns runs;
  runs.kit = "kits/a";
  runs.run.scripts = {"UpdateHWOld.nsh"};
  fleet::FleetRow checked;
  checked.input = "checked.bin";
  checked.kits = {runs};
  checked.run = runs.run;
  checked.kit_sha256 = identity;
  fleet::FleetRow unchecked = checked;  // a kit without SHA256SUMS
  unchecked.input = "unchecked.bin";
  unchecked.kit_sha256.clear();
  fleet::FleetRow several = unchecked;  // no one planned kit
  several.input = "several.bin";
  several.kits.push_back(runs);
  fleet::FleetRow error;
  error.input = "junk.bin";
  error.error = "not an SMBIOS dump";
  struct Case {
    const fleet::FleetRow *row;
    std::string scripts, error, kit_sha256;
  } cases[] = {
      {&checked, "UpdateHWOld.nsh", "", identity},
      {&unchecked, "UpdateHWOld.nsh", "", ""},
      {&several, "", "", ""},
      {&error, "", "not an SMBIOS dump", ""},
  };

  std::ostringstream out;
  {
    fleet::ReportWriter writer(fleet::Format::Csv, out);
    for (const Case &c : cases) writer.Add(*c.row);
    writer.Finish();
  }
  std::istringstream lines(out.str());
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  // Where the columns stood before kit_sha256 was added.
  EXPECT_EQ(line.rfind("input,kit,manufacturer,product,serial,sku,uuid,bios_version,string2,", 0), 0u);
  EXPECT_EQ(line.size() - line.find(",error,kit_sha256\r"), std::string(",error,kit_sha256\r").size())
      << line;
  const std::vector<std::string> &titles = fleet::CsvTitles();
  ASSERT_EQ(titles.back(), "kit_sha256");
  ASSERT_EQ(titles[titles.size() - 2], "error");
  ASSERT_EQ(titles[13], "scripts");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.row->input);
    std::vector<std::string> fields = fleet::CsvFields(*c.row);
    ASSERT_EQ(fields.size(), titles.size());
    EXPECT_EQ(fields.front(), c.row->input);
    EXPECT_EQ(fields[13], c.scripts);  // "scripts"
    EXPECT_EQ(fields[titles.size() - 2], c.error);
    EXPECT_EQ(fields.back(), c.kit_sha256);
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, fleet::CsvRecord(fields) + "\r");
  }
}

}  // namespace
