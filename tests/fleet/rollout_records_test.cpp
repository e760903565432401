// Run records read back by the fleet report: which lines of a file are
// records, how they join to machines, which record is a machine's latest, the rollout
// states, and the whole report with records beside the inventory.
#include "fleet/rollout_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/sha256.h"
#include "fleet/fleet_report.h"
#include "support/scratch_folder.h"
#include "support/image_record_line.h"

namespace {

using Json = nlohmann::json;

TEST(RecordSet, ReadsEveryWholeLineAndWarnsOfTheRest) {
  std::string text = IMAGE_LINE + "\n" +                        // 1
                     "\n" +                                // 2: empty, passed over
                     IMAGE_LINE.substr(0, 50) + "\r\n" +        // 3: cut
                     IMAGE_LINE + "\r\n" +                      // 4: CRLF
                     "{" + std::string(70000, ' ') + "}\n" +  // 5: too long
                     IMAGE_LINE;                                // 6: no LF at the end
  std::istringstream in(text);
  fleet::RecordSet set;
  set.Read("stick.jsonl", in);
  // Lines 1, 4 and 6 name one machine alike: one record, the latest, that
  // counts all three.
  ASSERT_EQ(set.Records().size(), 1u);
  EXPECT_EQ(set.Records()[0].summary.where, "stick.jsonl:6");
  EXPECT_EQ(set.Records()[0].copies, 3u);
  EXPECT_EQ(set.Warnings(),
            (std::vector<std::string>{
                "stick.jsonl:3: not JSON (a cut or damaged line); skipped",
                "stick.jsonl:5: longer than 65536 bytes; skipped"}));
}

fleet::FleetRow Machine(const char *uuid, const char *serial, const char *product,
                        const char *decides = "UpdateHWOld.nsh") {
  fleet::FleetRow row;
  row.input = serial != nullptr ? serial : "machine";
  row.facts.has_uuid = uuid != nullptr;
  row.facts.uuid = uuid != nullptr ? uuid : "";
  row.facts.has_serial = serial != nullptr;
  row.facts.serial = serial != nullptr ? serial : "";
  row.facts.has_product = product != nullptr;
  row.facts.product = product != nullptr ? product : "";
  fleet::KitRuns kit;
  kit.kit = "kit";
  if (decides != nullptr) kit.run.scripts.push_back(decides);
  row.kits.push_back(kit);
  row.run = kit.run;
  return row;
}

std::string Record(const char *uuid, const char *serial, const char *product, const char *time,
                   const char *script, bool ran, const char *message) {
  auto text = [](const char *value) { return value != nullptr ? Json(value) : Json(nullptr); };
  Json record = {{"time", text(time)},     {"uuid", text(uuid)},     {"serial", text(serial)},
                 {"product", text(product)}, {"script", text(script)}, {"ran", ran},
                 {"status", "0x0"},         {"message", text(message)}};
  return record.dump() + "\n";
}

TEST(RecordSet, JoinsByUuidElseBySerialAndProduct) {
  const char *U1 = "00112233-4455-6677-8899-aabbccddeeff";
  const char *U2 = "10112233-4455-6677-8899-aabbccddeeff";
  const char *SHARED = "12121212-1212-1212-1212-121212121212";
  // U3 read by the rule of SMBIOS 2.6 and later, and by the older one.
  const char *U3 = "33221100-5544-7766-8899-aabbccddee00";
  const char *U3_SWAPPED = "00112233-4455-6677-8899-aabbccddee00";
  std::string text =
      Record(U1, "SN-1", "Model7", "2026-03-01T08:00:00", "UpdateHWOld.nsh", true, nullptr) +  // 1
      Record("00112233-4455-6677-8899-AABBCCDDEEFF", "other", "other", "2026-03-02T08:00:00",
             "UpdateHWOld.nsh", true, nullptr) +                                               // 2
      Record(nullptr, "SN-3 ", "Model9", nullptr, "UpdateHWOld.nsh", true, nullptr) +          // 3
      Record(nullptr, "SN-3", "Model9  ", nullptr, nullptr, false, "ERROR: refused") +         // 4
      Record(U2, "SN-4", "Model7", nullptr, "UpdateHWOld.nsh", true, nullptr) +                // 5
      Record(nullptr, "", "Model7", nullptr, nullptr, false, "ERROR: x") +                     // 6
      Record(nullptr, "SN-7", "<b>Model\x1b[2J\"</b>", nullptr, nullptr, false, "ERROR: x") +   // 7
      Record(SHARED, "SN-8", "Model7", nullptr, "UpdateHWOld.nsh", true, nullptr) +            // 8
      Record(U3_SWAPPED, "SN-9", "Model5", nullptr, "UpdateHWOld.nsh", true, nullptr) +        // 9
      // Written at 07:00 UTC, before line 11's 08:00 UTC, though its text sorts after.
      Record(nullptr, "SN-10", "Model7", "2026-03-01T09:00:00+02:00", nullptr, false, "ERROR: y") +  // 10
      Record(nullptr, "SN-10", "Model7", "2026-03-01T08:00:00Z", "UpdateHWOld.nsh", true, nullptr) +  // 11
      Record(nullptr, "SN-10", "Model7", nullptr, "UpdateHWNew.nsh", true, nullptr) +          // 12
      Record(SHARED, "To Be Filled By O.E.M.", "Model7", nullptr, "UpdateHWOld.nsh", true,
             nullptr);                                                                         // 13
  struct Case {
    const char *name;
    fleet::FleetRow row;
    bool uuid_unique;
    size_t latest_line;  // 0: none
  };
  const Case cases[] = {
      // Line 2 names another serial number, yet its UUID (in upper case) is this machine's.
      {"UUID, the later of two by time", Machine(U1, "SN-1", "Model7"), true, 2},
      {"serial number and product, trailing blanks aside, the one read last",
       Machine(nullptr, "SN-3", "Model9"), true, 4},
      // A machine whose UUID is another's: its serial number does not join it to line 5.
      {"both sides' UUIDs differ", Machine("20112233-4455-6677-8899-aabbccddeeff", "SN-4", "Model7"),
       true, 0},
      {"a record without UUID joins by serial number",
       Machine("30112233-4455-6677-8899-aabbccddeeff", "SN-3", "Model9"), true, 4},
      {"an empty serial number joins nothing", Machine(nullptr, "", "Model7"), true, 0},
      {"another product", Machine(nullptr, "SN-3", "Model8"), true, 0},
      {"a hostile product joins as it stands", Machine(nullptr, "SN-7", "<b>Model\x1b[2J\"</b>"), true, 7},
      // A UUID the fleet shares joins only the record of the same serial number.
      {"a shared UUID, the machine's serial", Machine(SHARED, "SN-8", "Model7"), false, 8},
      {"a shared UUID, another machine's serial", Machine(SHARED, "SN-80", "Model7"), false, 0},
      {"a shared UUID, the record of another serial bearing it",
       Machine(U1, "SN-1", "Model7"), false, 1},
      {"the UUID in the other byte order, the same serial and product",
       Machine(U3, "SN-9", "Model5"), true, 9},
      {"the UUID in the other byte order, another serial", Machine(U3, "SN-90", "Model5"), true, 0},
      {"times compared as instants; a record without a time never the latest",
       Machine(nullptr, "SN-10", "Model7"), true, 11},
      // A placeholder UUID and a placeholder serial number: nothing tells the machine.
      {"a shared UUID and a placeholder serial", Machine(SHARED, "To Be Filled By O.E.M.", "Model7"),
       false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in(text);
    fleet::RecordSet set;
    set.Read("r.jsonl", in);
    // Lines 10 to 12 name one machine alike: one record, the latest.
    ASSERT_EQ(set.Records().size(), 11u);
    const fleet::RolloutRecord *latest = set.Latest(c.row, c.uuid_unique);
    EXPECT_EQ(latest == nullptr ? "none" : latest->summary.where,
              c.latest_line == 0 ? "none" : "r.jsonl:" + std::to_string(c.latest_line));
  }
  // Over a whole inventory: what no machine matched is left over.
  std::istringstream in(text);
  fleet::RecordSet set;
  set.Read("r.jsonl", in);
  set.Latest(Machine(U1, "SN-1", "Model7"));
  set.Latest(Machine(nullptr, "SN-3", "Model9"));
  std::vector<std::string> unmatched, expected;
  for (const fleet::RolloutRecord *record : set.Unmatched()) unmatched.push_back(record->summary.where);
  for (int line : {5, 6, 7, 8, 9, 11, 13}) expected.push_back("r.jsonl:" + std::to_string(line));
  EXPECT_EQ(unmatched, expected);
}

// A stick that looped on one machine, or a file of a whole rollout: memory
// follows the machines, and the warnings stay a screenful.
TEST(RecordSet, MillionsOfLinesKeepOneRecordPerMachineAndAScreenOfWarnings) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += IMAGE_LINE + "\n";
  for (int i = 0; i < 30; ++i) text += "{cut\n";
  for (int i = 0; i < 5000; ++i) text += IMAGE_LINE + "\n";
  std::istringstream in(text);
  fleet::RecordSet set;
  EXPECT_EQ(set.Read("stick.jsonl", in), 10000u);
  ASSERT_EQ(set.Records().size(), 1u);
  EXPECT_EQ(set.Records()[0].copies, 10000u);
  EXPECT_EQ(set.Records()[0].summary.where, "stick.jsonl:10030");
  std::vector<std::string> warnings = set.Warnings();
  ASSERT_EQ(warnings.size(), fleet::RECORD_WARNING_LIMIT + 1);
  EXPECT_EQ(warnings.front(), "stick.jsonl:5001: not JSON (a cut or damaged line); skipped");
  EXPECT_EQ(warnings.back(), "and 10 more damaged lines; skipped");
}

TEST(RolloutState, FromTheDataAndTheLatestRecord) {
  auto record = [](const char *script, bool ran, const char *message) {
    fleet::RolloutRecord r;
    r.summary.has_script = script != nullptr;
    r.summary.script = script != nullptr ? script : "";
    r.summary.ran = ran;
    r.summary.has_message = message != nullptr;
    r.summary.message = message != nullptr ? message : "";
    return r;
  };
  fleet::RolloutRecord started = record("UpdateHWOld.nsh", true, nullptr);
  fleet::RolloutRecord refused = record(nullptr, false, "ERROR: product \"X\" is not ProductName= \"Y\".");
  fleet::RolloutRecord decided_only = record("UpdateHWOld.nsh", false, nullptr);
  fleet::RolloutRecord newer = record("UpdateHWNew.nsh", true, nullptr);
  fleet::FleetRow old_row = Machine(nullptr, "SN", "P");
  fleet::FleetRow new_row = Machine(nullptr, "SN", "P", "UpdateHWNew.nsh");
  fleet::FleetRow none_row = Machine(nullptr, "SN", "P", nullptr);
  fleet::FleetRow no_kit = old_row;
  no_kit.kits.clear();
  fleet::FleetRow two_kits = old_row;
  two_kits.kits.push_back(two_kits.kits.front());
  struct Case {
    const char *name;
    const fleet::FleetRow *row;
    const fleet::RolloutRecord *latest;
    const char *state;
  };
  const Case cases[] = {
      {"at the target, visited", &new_row, &started, "at-target"},
      {"at the target, never visited", &new_row, nullptr, "at-target"},
      {"flashed and still below", &old_row, &started, "started-still-below"},
      {"refused", &old_row, &refused, "refused"},
      {"refused, and the data decides no script", &none_row, &refused, "refused"},
      {"never visited", &old_row, nullptr, "not-visited"},
      {"decided with -n only", &old_row, &decided_only, ""},
      {"the record ran the new script yet the data is below", &old_row, &newer, ""},
      {"no script and no record", &none_row, nullptr, ""},
      {"no kit", &no_kit, nullptr, ""},
      {"several kits", &two_kits, &started, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fleet::RolloutState(*c.row, c.latest), c.state);
  }
}

class FleetRecords : public testsupport::ScratchFolderTest {
 protected:
  // Runs the report into a file of the scratch folder; its text in *out.
  int Report(fleet::FleetCommand command, std::string *out, std::string *err) {
    command.output = dir_ + "/report.out";
    std::ostringstream errors;
    int code = fleet::RunFleetReport(command, errors);
    *err = errors.str();
    std::ifstream in(command.output, std::ios::binary);
    out->assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(command.output);
    return code;
  }
};

TEST_F(FleetRecords, TheReportJoinsRecordsToItsMachines) {
  namespace fs = std::filesystem;
  fs::path dumps = fs::path(BUS_SOURCE_DIR) / "tests/data/dumps";
  // desktop-2.8 decides the old script under this kit, laptop-8AET46WW
  // the new one; both carry this UUID. qemu-old-bios names no machine.
  std::string kit = Write("kit/UpdateConfig.ini", "ProductName=x\r\nVersion=2\r\n");
  kit = dir_ + "/kit";
  const char *uuid = "13121110-1514-1716-1819-1a1b1c1d1e1f";
  Write("sticks/a/rollout.jsonl",
        Record(uuid, "ACM7T0042", "Model7 Tower", "2026-03-01T08:00:00", "UpdateHWOld.nsh", true,
               nullptr) +
            "{\"script\":\"UpdateHWOld.nsh\",\"ran\":tr\n" +
            Record("ffffffff-0000-0000-0000-000000000001", "<script>\x1b[2J", "Gone", nullptr,
                   nullptr, false, "ERROR: SMBIOS table not found."));
  Write("sticks/b/notes.txt", "not a records file\n");

  fleet::FleetCommand command;
  command.kits = {kit};
  command.records = {dir_ + "/sticks"};
  // The desktop's data collected twice: one machine.
  std::filesystem::copy_file(dumps / "desktop-2.8.bin", dir_ + "/desktop-again.bin");
  command.inputs = {(dumps / "desktop-2.8.bin").string(), (dumps / "laptop-8AET46WW.bin").string(),
                    (dumps / "qemu-old-bios.bin").string(), dir_ + "/desktop-again.bin"};
  command.format = fleet::Format::Json;
  std::string out, warnings;
  ASSERT_EQ(Report(command, &out, &warnings), fleet::FLEET_REPORT_MADE) << warnings;
  Json report = Json::parse(out);
  ASSERT_EQ(report.size(), 4u);
  // Two machines bear the UUID: the record joins the desktop by its serial
  // number, and the laptop, whose serial differs, gets none.
  EXPECT_NE(report[0]["warnings"].dump().find("is borne by 2 machines of the fleet"), std::string::npos)
      << report[0]["warnings"];
  EXPECT_EQ(report[1]["record"], nullptr);
  std::vector<std::string> keys = report[3]["warning_keys"];
  ASSERT_GE(keys.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(keys.end() - 2, keys.end()),
            (std::vector<std::string>{"same-machine", "shared-uuid"}));
  EXPECT_NE(warnings.find(": wrote " + dir_ + "/report.out: 3 machines, 2 to update, 1 not visited.\n"),
            std::string::npos)
      << warnings;
  EXPECT_EQ(report[0]["rollout"], "started-still-below");
  EXPECT_EQ(report[0]["uuid"], uuid);
  EXPECT_EQ(report[0]["serial"], "ACM7T0042");
  EXPECT_EQ(report[0]["record"]["where"], dir_ + "/sticks/a/rollout.jsonl:1");
  EXPECT_EQ(report[1]["rollout"], "at-target");
  EXPECT_EQ(report[2]["rollout"], "not-visited");
  EXPECT_EQ(report[2]["record"], nullptr);
  EXPECT_NE(warnings.find("warning: " + dir_ + "/sticks/a/rollout.jsonl:2: not JSON"),
            std::string::npos)
      << warnings;
  EXPECT_NE(warnings.find("1 record matches no machine:\n  " + dir_ +
                          "/sticks/a/rollout.jsonl:3: serial <script>\\x1B[2J, product Gone"),
            std::string::npos)
      << warnings;

  // The table: a column of states, and per kit the states and what matched nothing.
  command.format = fleet::Format::Table;
  std::string text, table_err;
  ASSERT_EQ(Report(command, &text, &table_err), fleet::FLEET_REPORT_MADE);
  EXPECT_NE(text.find("ROLLOUT"), std::string::npos) << text;
  EXPECT_NE(text.find("\nMachines: 3; 1 input repeats a machine\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  " + kit + ": 1 at-target, 1 started-still-below, 0 refused, 1 not-visited\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Records matching no machine: 1\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << "a record's text cannot drive the terminal";

  // Without records nothing changes: no state, no column.
  command.records.clear();
  std::string plain, plain_err;
  ASSERT_EQ(Report(command, &plain, &plain_err), fleet::FLEET_REPORT_MADE);
  EXPECT_EQ(plain.find("ROLLOUT"), std::string::npos);
}

TEST_F(FleetRecords, RecordsThatCannotBeReadStopTheReportWithOneLine) {
  std::string kit = Write("kit/UpdateConfig.ini", "Version=2\r\n");
  Write("empty/readme.txt", "");
  struct Case {
    const char *name;
    std::string records;
    std::string error;
  };
  const Case cases[] = {
      {"missing", dir_ + "/missing.jsonl", "--records " + dir_ + "/missing.jsonl: not found"},
      {"a folder without records", dir_ + "/empty",
       "--records " + dir_ + "/empty: no *.jsonl file in it"},
      {"a device", "/dev/null", "--records /dev/null: not a file or a folder"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fleet::FleetCommand command;
    command.kits = {dir_ + "/kit"};
    command.records = {c.records};
    command.inputs = {dir_ + "/kit"};
    std::string out, err;
    EXPECT_EQ(Report(command, &out, &err), fleet::FLEET_CANNOT_RUN);
    EXPECT_EQ(err, "bios-update-select-fleet: " + c.error + "\n");
    EXPECT_EQ(out, "");
  }
}

TEST_F(FleetRecords, KitsAreCheckedAgainstTheirSha256sumsAndRecordsHeldToTheirBuild) {
  namespace fs = std::filesystem;
  fs::path dumps = fs::path(BUS_SOURCE_DIR) / "tests/data/dumps";
  auto sha256 = [](const std::string &bytes) {
    Sha256 hash;
    Sha256Begin(&hash);
    Sha256Add(&hash, bytes.data(), bytes.size());
    char hex[SHA256_HEX_SIZE];
    Sha256End(&hash, hex);
    return std::string(hex);
  };
  const std::string config = "ProductName=x\r\nVersion=2\r\n";
  Write("kit/UpdateConfig.ini", config);
  Write("kit/bios.rom", "the BIOS");
  std::string sums = sha256(config) + "  UpdateConfig.ini\n" + sha256("the BIOS") + "  bios.rom\n";
  Write("kit/SHA256SUMS", sums);
  std::string identity = sha256(sums);
  // The desktop's record ran another build of the kit; the laptop's this one.
  Json other = Json::parse(Record(nullptr, "ACM7T0042", "Model7 Tower", "2026-03-01T08:00:00",
                                  "UpdateHWOld.nsh", true, nullptr));
  other["kit_sha256"] = std::string(64, '0');
  Write("sticks/rollout.jsonl", other.dump() + "\n");

  fleet::FleetCommand command;
  command.kits = {dir_ + "/kit"};
  command.records = {dir_ + "/sticks"};
  command.inputs = {(dumps / "desktop-2.8.bin").string(), (dumps / "laptop-8AET46WW.bin").string()};
  command.format = fleet::Format::Json;
  std::string out, warnings;
  ASSERT_EQ(Report(command, &out, &warnings), fleet::FLEET_REPORT_MADE) << warnings;
  Json report = Json::parse(out);
  ASSERT_EQ(report.size(), 2u);
  for (const Json &row : report) EXPECT_EQ(row["kit_sha256"], identity);
  std::vector<std::string> keys = report[0]["warning_keys"];
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "other-build"), 1) << report[0]["warnings"];
  EXPECT_EQ(report[0]["record"]["kit_sha256"], std::string(64, '0'));
  keys = report[1]["warning_keys"].get<std::vector<std::string>>();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "other-build"), 0);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "kit-damaged"), 0);

  // A BIOS file changed after SHA256SUMS was made: a warning on every
  // machine the kit serves, naming the file, before the medium ships.
  Write("kit/bios.rom", "the BIOS, changed");
  ASSERT_EQ(Report(command, &out, &warnings), fleet::FLEET_REPORT_MADE) << warnings;
  report = Json::parse(out);
  for (const Json &row : report) {
    EXPECT_NE(row["warnings"].dump().find("the kit " + dir_ + "/kit does not match its "
                                          "SHA256SUMS: bios.rom does not match SHA256SUMS."),
              std::string::npos)
        << row["warnings"];
  }
  command.format = fleet::Format::Table;
  ASSERT_EQ(Report(command, &out, &warnings), fleet::FLEET_REPORT_MADE) << warnings;
  EXPECT_NE(out.find("Version=2, kit " + identity.substr(0, 4) + "..." + identity.substr(62) +
                     ", does not match its SHA256SUMS)"),
            std::string::npos)
      << out;
}

}  // namespace
