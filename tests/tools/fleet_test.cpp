// The built bios-update-select-fleet, run as an admin runs it, on every dump
// and sysfs folder of tests/data/dumps: each machine's scripts, messages and
// status, with the kit's options and with -segments, as written out here and
// in the corpus's expected.json. Then its three forms parsed back, damaged
// inputs as rows, and its exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include "support/scratch_folder.h"

namespace {

using testsupport::ShellQuote;

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct Result {
  std::string out;
  int code;
};

Result RunTool(const std::string &tool, const std::vector<std::string> &arguments) {
  std::string command = ShellQuote(tool);
  for (const std::string &argument : arguments) command += " " + ShellQuote(argument);
  command += " 2>/dev/null </dev/null";
  Result result;
  result.code = testsupport::RunShellCommand(command, &result.out);
  return result;
}

// RFC 4180: records end with CRLF; a quoted field may hold commas, CR, LF
// and doubled quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string &text) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false, was_quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty() && !was_quoted) {
      quoted = was_quoted = true;
    } else if (c == ',') {
      records.back().push_back(field);
      field.clear();
      was_quoted = false;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.back().push_back(field);
      field.clear();
      was_quoted = false;
      records.emplace_back();
      ++i;
    } else {
      if (c == '"' || c == '\r' || c == '\n') ADD_FAILURE() << "unquoted " << c << " at byte " << i;
      field += c;
    }
  }
  EXPECT_FALSE(quoted) << "a quoted field runs to the end";
  EXPECT_TRUE(records.back().empty() && field.empty()) << "the last record has no CRLF";
  records.pop_back();
  return records;
}

class FleetTool : public testsupport::ScratchFolderTest {
 protected:
  void SetUp() override {
    ScratchFolderTest::SetUp();
    corpus_ = fs::path(BUS_SOURCE_DIR) / "tests/data/dumps";
    std::ifstream in(corpus_ / "expected.json");
    expected_ = Json::parse(in);
    kit_ = Kit("kit", expected_["config"].get<std::string>());
  }

  std::string Kit(const std::string &name, const std::string &config) {
    Write(name + "/UpdateConfig.ini", config);
    return dir_ + "/" + name;
  }
  Json Report(const std::vector<std::string> &arguments) {
    std::vector<std::string> all = {"--format", "json"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    Result result = RunTool(BUS_FLEET_PATH, all);
    EXPECT_EQ(result.code, 0);
    Json report = Json::parse(result.out, nullptr, false);
    EXPECT_TRUE(report.is_array()) << result.out;
    return report.is_array() ? report : Json::array();
  }
  // The corpus's expected preview lines as a fleet run object.
  static Json RunFromPreviewLines(const Json &lines) {
    Json run = {{"scripts", Json::array()}, {"messages", Json::array()}};
    for (const Json &item : lines) {
      std::string line = item.get<std::string>();
      if (line.rfind("execute: ", 0) == 0) run["scripts"].push_back(line.substr(9));
      if (line.rfind("status: ", 0) == 0) {
        // The preview prints the whole status; the report shows it as the
        // shell's %lasterror% does and keeps the whole value beside it.
        uint64_t status = std::stoull(line.substr(8), nullptr, 16);
        char shown[24];
        std::snprintf(shown, sizeof(shown), "0x%llX",
                      static_cast<unsigned long long>(status & ~(1ULL << 63)));
        run["status"] = shown;
        run["efi_status"] = status;
      }
      if (line.rfind("console: ", 0) == 0) {
        std::string text = line.substr(9);
        if (text.size() >= 4 && text.compare(text.size() - 4, 4, "\\r\\n") == 0) text.resize(text.size() - 4);
        run["messages"].push_back(text);
      }
    }
    return run;
  }
  std::vector<std::string> CorpusInputs() {
    std::vector<std::string> inputs;
    for (const Json &entry : expected_["dumps"]) inputs.push_back((corpus_ / entry["file"].get<std::string>()).string());
    for (const Json &entry : expected_["folders"]) inputs.push_back((corpus_ / entry["folder"].get<std::string>()).string());
    return inputs;
  }

  std::string kit_;
  fs::path corpus_;
  Json expected_;
};

// A run's outcome as the report gives it.
Json Outcome(const std::vector<std::string> &scripts, const std::vector<std::string> &messages,
             bool success) {
  return {{"scripts", scripts},
          {"messages", messages},
          {"status", success ? "0x0" : "0x15"},
          {"efi_status", success ? 0ULL : 0x8000000000000015ULL}};
}
Json Ran(const std::vector<std::string> &scripts) { return Outcome(scripts, {}, true); }
Json Refused(const std::vector<std::string> &messages) { return Outcome({}, messages, false); }
std::string NotComparable(const std::string &installed, const std::string &configured) {
  return "ERROR: installed \"" + installed + "\" and configured \"" + configured + "\" cannot be compared.";
}

const Json OLD = Ran({"UpdateHWOld.nsh"});
const Json NEW = Ran({"UpdateHWNew.nsh"});
const Json NO_TABLE = Refused({"ERROR: SMBIOS table not found."});
const Json NO_VERSION = Refused({"ERROR: BIOS version not found."});
const Json NO_DECISION = Refused({});  // no BIOS Information the walk could read

TEST_F(FleetTool, EveryCorpusInputGetsItsWrittenOutcome) {
  // The corpus kit (ProductName=Model7, Version=2) without options: the
  // outcomes expected.json writes down for the preview tool. With -segments
  // a one-part "2" compares with no multi-part version. A second kit serves
  // three families by -product and a three-part version; with -smbios3 the
  // machines that publish only a 3.x entry point are read too.
  const std::string list = "Model7 Tower|AS-2200*|Notebook 1*";
  auto not_listed = [&](const std::string &product) {
    return Refused({"ERROR: product \"" + product + "\" is not ProductName= \"" + list + "\"."});
  };
  const Json no_product = Refused({"ERROR: no product name in SMBIOS; ProductName= \"" + list + "\"."});
  auto cannot = [](const std::string &installed, const std::string &configured) {
    return Refused({NotComparable(installed, configured)});
  };
  const struct {
    const char *input;
    Json segments;          // the corpus kit, -segments
    Json library;           // the second kit, -smbios3 -product
    Json library_segments;  // the same, -segments added
  } cases[] = {
      {"bios-information-no-strings.bin", NO_VERSION, NO_VERSION, NO_VERSION},
      {"board-P68.bin", cannot("P68", "2"), not_listed("Mini board"), not_listed("Mini board")},
      // The table ends inside the BIOS Information strings, before any System Information.
      {"damaged-cut-bios-information.bin", NO_DECISION, no_product, no_product},
      {"damaged-length-below-4.bin", cannot("1.26", "2"), OLD, cannot("1.26", "2.10.4")},
      {"damaged-repeated-handle.bin", cannot("1.26", "2"), OLD, cannot("1.26", "2.10.4")},
      {"desktop-2.8.bin", cannot("1.26", "2"), OLD, cannot("1.26", "2.10.4")},
      // "Model7 Tower   ": trailing blanks do not count; "-[A3E..." counts as 0.
      {"desktop-product-trailing-blanks.bin", cannot("-[A3E148AUS-1.07]-", "2"), OLD,
       cannot("-[A3E148AUS-1.07]-", "2.10.4")},
      // Only a 3.x entry point: read with -smbios3, "N2HET71W (1.54 )" counts as 0.
      {"laptop-3.2-only.bin", NO_TABLE, OLD, cannot("N2HET71W (1.54 )", "2.10.4")},
      {"laptop-7LET56WW.bin", cannot("7LET56WW (1.26 )", "2"), NEW,
       cannot("7LET56WW (1.26 )", "2.10.4")},
      {"laptop-8AET46WW.bin", cannot("8AET46WW (1.26 )", "2"), NEW,
       cannot("8AET46WW (1.26 )", "2.10.4")},
      {"laptop-G1ET45WW.bin", cannot("G1ET45WW (1.20 )", "2"), OLD,
       cannot("G1ET45WW (1.20 )", "2.10.4")},
      {"no-bios-information.bin", NO_DECISION, NO_DECISION, NO_DECISION},
      // The segment rule reads the string the BIOS Version field names: "QEMU".
      {"qemu-old-bios.bin", cannot("QEMU", "2"), no_product, no_product},
      // 2.10.4 against 2.10.4: the same by both rules.
      {"server-2.8-large.bin", cannot("2.10.4", "2"), NEW, NEW},
      // 2 against 2 by the integer rule; 2.8.2 is below 2.10.4 segment by segment.
      {"server-3.2-only-2.8.2.bin", NO_TABLE, NEW, OLD},
      {"server-handle-DA00-repeated.bin", cannot("2.17.1", "2"), NEW, NEW},
      // String 2 is seven blanks (0); the BIOS Version field names "A05".
      {"server-version-in-string-3.bin", cannot("A05", "2"), OLD, cannot("A05", "2.10.4")},
      {"two-bios-information.bin",
       Refused({NotComparable("1.10", "2"), NotComparable("3.00", "2")}),
       Ran({"UpdateHWOld.nsh", "UpdateHWNew.nsh"}),
       Refused({NotComparable("1.10", "2.10.4"), NotComparable("3.00", "2.10.4")})},
      {"sysfs-desktop-A05", cannot("A05", "2"), not_listed("Model5 Tower"),
       not_listed("Model5 Tower")},
      {"sysfs-server-3.2-only", NO_TABLE, NEW, OLD},
  };
  std::vector<std::string> inputs;
  for (const auto &c : cases) inputs.push_back((corpus_ / c.input).string());
  // Every corpus input has its row here.
  std::vector<std::string> corpus = CorpusInputs();
  std::sort(corpus.begin(), corpus.end());
  std::vector<std::string> sorted = inputs;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_EQ(sorted, corpus);

  std::map<std::string, Json> preview;
  for (const Json &entry : expected_["dumps"]) preview[entry["file"]] = entry["preview"];
  for (const Json &entry : expected_["folders"]) preview[entry["folder"]] = entry["preview"];
  std::string library_kit = Kit("library-kit", "ProductName=" + list + "\r\nVersion=2.10.4\r\n");
  std::vector<std::string> corpus_args = {"--kit", kit_, "--jobs", "2"};
  std::vector<std::string> library_args = {"--kit", library_kit, "--app-args", "-smbios3 -product"};
  corpus_args.insert(corpus_args.end(), inputs.begin(), inputs.end());
  library_args.insert(library_args.end(), inputs.begin(), inputs.end());
  Json corpus_report = Report(corpus_args);
  Json library_report = Report(library_args);
  ASSERT_EQ(corpus_report.size(), inputs.size());
  ASSERT_EQ(library_report.size(), inputs.size());
  auto outcome = [](const Json &run) {
    return Json{{"scripts", run["scripts"]},
                {"messages", run["messages"]},
                {"status", run["status"]},
                {"efi_status", run["efi_status"]}};
  };
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(cases[i].input);
    EXPECT_EQ(corpus_report[i]["input"], inputs[i]);
    EXPECT_EQ(outcome(corpus_report[i]), RunFromPreviewLines(preview.at(cases[i].input)));
    EXPECT_EQ(outcome(corpus_report[i]["segments"]), cases[i].segments);
    EXPECT_EQ(outcome(library_report[i]), cases[i].library);
    EXPECT_EQ(outcome(library_report[i]["segments"]), cases[i].library_segments);
  }
}

TEST_F(FleetTool, EachShapeSeenOnRealMachinesGetsItsWarning) {
  const struct {
    std::string input;
    std::string config;
    std::string args;
    std::string warning;  // a text the warning holds
    std::string product;
  } cases[] = {
      {"laptop-G1ET45WW.bin", "Version=2\r\n", "", "reads the installed version \"G1ET45WW (1.20 )\" as 0", "Notebook 15"},
      {"laptop-7LET56WW.bin", "Version=2\r\n", "", "only the leading number of the installed version \"7LET56WW (1.26 )\", as 7", "Notebook 12"},
      {"server-handle-DA00-repeated.bin", "Version=2\r\n", "", "where handle 0xDA00 repeats", "AS-2200 R4"},
      {"server-version-in-string-3.bin", "Version=A07\r\n", "", "string 2 (\"       \") is not the string the BIOS Version field names (string 3, \"A05\")", "AS-2200 R4"},
      {"server-version-in-string-3.bin", "Version=A07\r\n", "", "the two runs decide differently: \"UpdateHWNew.nsh\" with the kit's options, \"UpdateHWOld.nsh\" with -segments", "AS-2200 R4"},
      {"qemu-old-bios.bin", "Version=2\r\n", "", "string 2 (\"01/01/2011\") is not the string the BIOS Version field names (string 1, \"QEMU\")", ""},
      {"server-3.2-only-2.8.2.bin", "Version=2.9\r\n", "", "only a 3.x entry point", "AS-2200 R4"},
      {"sysfs-server-3.2-only", "Version=2.9\r\n", "", "only a 3.x entry point", "AS-2200 R4"},
      {"desktop-2.8.bin", "Version=2\r\n", "", "the segment rule cannot compare the installed version \"1.26\" with the configured \"2\"", "Model7 Tower"},
      {"damaged-length-below-4.bin", "Version=2\r\n", "", "where a damaged structure begins", "Model7 Tower"},
      {"desktop-product-trailing-blanks.bin", "Version=2\r\n", "", "reads the installed version \"-[A3E148AUS-1.07]-\" as 0", "Model7 Tower   "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.input + ": " + c.warning);
    std::string kit = Kit("shape-kit", c.config);
    Json report = Report({"--kit", kit, "--app-args", c.args, (corpus_ / c.input).string()});
    ASSERT_EQ(report.size(), 1u);
    std::string warnings;
    for (const Json &warning : report[0]["warnings"]) warnings += warning.get<std::string>() + "\n";
    EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
    EXPECT_EQ(report[0]["product"], c.product.empty() ? Json(nullptr) : Json(c.product));
  }
  // What the warnings point at, done: -smbios3 reads the newer table, and
  // -product takes the name with its trailing blanks ignored.
  std::string kit = Kit("fixed-kit", "ProductName=AS-2200 R4\r\nVersion=2.9.0\r\n");
  Json report = Report({"--kit", kit, "--app-args", "-smbios3 -product", (corpus_ / "sysfs-server-3.2-only").string()});
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0]["segments"]["scripts"], Json::array({"UpdateHWOld.nsh"}));
  EXPECT_EQ(report[0]["warnings"].dump().find("3.x"), std::string::npos) << report[0]["warnings"];
  kit = Kit("blank-kit", "ProductName=Model7 Tower\r\nVersion=2\r\n");
  report = Report({"--kit", kit, "--app-args", "-product", (corpus_ / "desktop-product-trailing-blanks.bin").string()});
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0]["scripts"], Json::array({"UpdateHWOld.nsh"})) << report[0];
}

TEST_F(FleetTool, TheThreeFormsSayTheSameAndDamagedInputsAreRows) {
  std::string not_dump = Write("inputs/notes.bin", "not SMBIOS data, \"quoted\", two\r\nlines");
  std::string cut = Write("inputs/cut/DMI", "");
  Write("inputs/cut/smbios_entry_point", "_SM_");
  std::string empty = Write("inputs/empty.bin", "");
  std::vector<std::string> inputs = {(corpus_ / "server-version-in-string-3.bin").string(), not_dump,
                                     empty, dir_ + "/inputs/cut",
                                     (corpus_ / "qemu-old-bios.bin").string()};
  std::vector<std::string> arguments = {"--kit", kit_};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());

  std::vector<std::string> json_args = arguments;
  json_args.insert(json_args.begin(), {"--jobs", "2"});
  Json report = Report(json_args);
  ASSERT_EQ(report.size(), inputs.size());
  for (size_t i : {1u, 2u, 3u}) {
    SCOPED_TRACE(inputs[i]);
    EXPECT_EQ(report[i].size(), 2u) << report[i];
    EXPECT_EQ(report[i]["input"], inputs[i]);
    EXPECT_TRUE(report[i]["error"].is_string() && !report[i]["error"].get<std::string>().empty());
  }
  EXPECT_EQ(report[4]["bios_version"], "QEMU");
  EXPECT_EQ(report[4]["string2"], "01/01/2011");
  EXPECT_EQ(report[4]["manufacturer"], nullptr);

  std::vector<std::string> csv_args = arguments;
  csv_args.insert(csv_args.begin(), {"--format", "csv"});
  Result csv = RunTool(BUS_FLEET_PATH, csv_args);
  EXPECT_EQ(csv.code, 0);
  std::vector<std::vector<std::string>> records = ParseCsv(csv.out);
  ASSERT_EQ(records.size(), inputs.size() + 1);
  const std::vector<std::string> &header = records[0];
  EXPECT_EQ(header.front(), "input");
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(inputs[i]);
    ASSERT_EQ(records[i + 1].size(), header.size());
    std::map<std::string, std::string> csv_row;
    for (size_t k = 0; k < header.size(); ++k) csv_row[header[k]] = records[i + 1][k];
    const Json &row = report[i];
    EXPECT_EQ(csv_row["input"], row["input"]);
    if (row.contains("error")) {
      EXPECT_EQ(csv_row["error"], row["error"]);
      continue;
    }
    auto joined = [](const Json &list) {
      std::string text;
      for (const Json &item : list) text += (text.empty() ? "" : "; ") + item.get<std::string>();
      return text;
    };
    EXPECT_EQ(csv_row["bios_version"], row["bios_version"]);
    EXPECT_EQ(csv_row["scripts"], joined(row["scripts"]));
    EXPECT_EQ(csv_row["segments_messages"], joined(row["segments"]["messages"]));
    EXPECT_EQ(csv_row["segments_status"], row["segments"]["status"]);
    EXPECT_EQ(csv_row["warnings"], joined(row["warnings"]));
  }

  std::vector<std::string> table_args = arguments;
  table_args.insert(table_args.begin(), {"--format", "table"});
  Result table = RunTool(BUS_FLEET_PATH, table_args);
  EXPECT_EQ(table.code, 0);
  std::istringstream lines(table.out);
  std::vector<std::string> text;
  for (std::string line; std::getline(lines, line);) text.push_back(line);
  ASSERT_GT(text.size(), inputs.size() + 2);
  size_t outcome = text[0].find("OUTCOME");
  ASSERT_NE(outcome, std::string::npos);
  EXPECT_EQ(text[1].find("UpdateHWOld.nsh"), outcome) << text[1];  // seven blanks: 0 < 2
  EXPECT_NE(text[2].find("error: "), std::string::npos);
  EXPECT_EQ(text[2].find("\r"), std::string::npos);
  EXPECT_EQ(text[inputs.size() + 2], "Machines: 5 (3 not SMBIOS data, or unreadable)");
  EXPECT_NE(table.out.find("string2-not-version: "), std::string::npos);
}

TEST_F(FleetTool, ALibraryOfKitsServesEachModelItsOwnKit) {
  // A library as admins keep one: a kit per model, nested by family, one
  // kit serving two machine types by prefix, and a kit's own subfolder
  // (flash files) that is not searched.
  std::string library = dir_ + "/library";
  Kit("library/desktops/model7", "ProductName=Model7 Tower\r\nVersion=1.27\r\n");
  Kit("library/servers", "ProductName=AS-2200*\r\nVersion=2.10.4\r\n");
  Write("library/servers/flash/UpdateConfig.ini", "ProductName=Notebook 15\r\nVersion=1\r\n");
  Kit("library/zz-notebooks", "ProductName=Notebook 1*|AS-2200 R4\r\nVersion=1\r\n");
  std::vector<std::string> inputs = {(corpus_ / "desktop-2.8.bin").string(),
                                     (corpus_ / "server-2.8-large.bin").string(),
                                     (corpus_ / "sysfs-desktop-A05").string(),
                                     (corpus_ / "laptop-G1ET45WW.bin").string()};
  std::vector<std::string> arguments = {"--kits", library};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  Json report = Report(arguments);
  ASSERT_EQ(report.size(), 4u);
  EXPECT_EQ(report[0]["kit"], library + "/desktops/model7");
  EXPECT_EQ(report[0]["segments"]["scripts"], Json::array({"UpdateHWOld.nsh"}));  // 1.26 < 1.27
  EXPECT_EQ(report[1]["kit"], Json::array({library + "/servers", library + "/zz-notebooks"}));
  EXPECT_EQ(report[1]["status"], nullptr);
  ASSERT_EQ(report[1]["runs"].size(), 2u);
  EXPECT_EQ(report[1]["runs"][0]["segments"]["scripts"], Json::array({"UpdateHWNew.nsh"}));  // same
  EXPECT_EQ(report[1]["runs"][1]["kit"], library + "/zz-notebooks");
  EXPECT_EQ(report[2]["kit"], nullptr);  // Model5 Tower: no kit
  EXPECT_EQ(report[2]["scripts"], Json::array());
  EXPECT_EQ(report[3]["kit"], library + "/zz-notebooks");
  for (const Json &row : report) {
    SCOPED_TRACE(row["input"].get<std::string>());
    ASSERT_EQ(row["warning_keys"].size(), row["warnings"].size());
    Json keys = row["warning_keys"];
    bool several = std::find(keys.begin(), keys.end(), "several-kits") != keys.end();
    bool none = std::find(keys.begin(), keys.end(), "no-kit") != keys.end();
    EXPECT_EQ(several, row["kit"].is_array());
    EXPECT_EQ(none, row["kit"].is_null());
  }
  // Worker processes hand the same rows over, runs under several kits included.
  std::vector<std::string> with_jobs = arguments;
  with_jobs.insert(with_jobs.begin(), {"--jobs", "2"});
  EXPECT_EQ(Report(with_jobs), report);

  // The table's summary: a line per kit with its outcomes, then the machines without one.
  std::vector<std::string> table_args = arguments;
  table_args.insert(table_args.begin(), {"--format", "table"});
  Result table = RunTool(BUS_FLEET_PATH, table_args);
  // (The kit's own options use the integer rule: 1.26 and 1.27 are both 1.)
  EXPECT_NE(table.out.find("  " + library + "/desktops/model7 (ProductName=Model7 Tower, Version=1.27): 1 "
                           "machine, 0 UpdateHWOld.nsh, 1 UpdateHWNew.nsh, 0 no script\n"),
            std::string::npos) << table.out;
  EXPECT_NE(table.out.find("  " + library + "/servers (ProductName=AS-2200*, Version=2.10.4): 1 machine,"),
            std::string::npos);
  EXPECT_NE(table.out.find("\nMachines without a kit: 1\n"), std::string::npos);
}

TEST_F(FleetTool, KitLibrariesAndOutputsThatCannotServe) {
  std::string dump = (corpus_ / "desktop-2.8.bin").string();
  Kit("lib/a", "ProductName=A\r\nVersion=1\r\n");
  fs::create_directories(dir_ + "/empty-lib/not-a-kit");
  fs::create_directory_symlink(dir_ + "/lib/a", dir_ + "/lib/b");
  Kit("linked/a", "ProductName=A\r\nVersion=1\r\n");
  fs::create_directory_symlink(dir_ + "/linked", dir_ + "/linked/a/loop");  // a link back up
  std::string old_report = Write("old.csv", "the report of last week\n");
  const struct {
    std::vector<std::string> arguments;
    int code;
  } cases[] = {
      {{"--kits", dir_ + "/lib", dump}, 2},        // a and b are one folder
      {{"--kit", kit_, "--kit", kit_, dump}, 2},   // the same kit twice
      {{"--kits", dir_ + "/empty-lib", dump}, 2},  // no kit in it
      {{"--kits", dir_ + "/missing", dump}, 2},
      {{"--kits", dir_ + "/linked", dump}, 0},     // the loop is entered once
      {{"--kit", kit_, "--output", dir_ + "/missing/report.csv", dump}, 2},
      {{"--kit", kit_, "--output", dir_, dump}, 2},
      {{"--kit", dir_ + "/lib/missing", "--output", old_report, dump}, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    std::string command = ShellQuote(BUS_FLEET_PATH);
    for (const std::string &argument : c.arguments) command += " " + ShellQuote(argument);
    std::string err;
    int code = testsupport::RunShellCommand(command + " 2>&1 >/dev/null </dev/null", &err);
    EXPECT_EQ(code, c.code);
    if (c.code == 2) {
      // One line that names what is wrong.
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
      EXPECT_EQ(err.rfind("bios-update-select-fleet: ", 0), 0u) << err;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ + "/missing"));
  // A report that could not be made leaves last week's as it was; one that
  // is made replaces it whole, with nothing left beside it.
  std::ifstream kept(old_report);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the report of last week\n");
  EXPECT_EQ(RunTool(BUS_FLEET_PATH, {"--kit", kit_, "--output", old_report, "--format", "csv", dump}).code, 0);
  std::ifstream made(old_report);
  std::string csv(std::istreambuf_iterator<char>(made), {});
  EXPECT_EQ(csv.rfind("input,kit,", 0), 0u) << csv;
  EXPECT_NE(csv.find("desktop-2.8.bin"), std::string::npos);
  EXPECT_FALSE(fs::exists(old_report + ".partial"));
}

TEST_F(FleetTool, ExitCodes) {
  std::string dump = (corpus_ / "desktop-2.8.bin").string();
  std::string empty_kit = dir_ + "/empty-kit";
  fs::create_directories(empty_kit);
  // desktop-2.8 decides UpdateHWOld.nsh under the kit, with warnings; one
  // stick's record says the old script was started on it, another's is the
  // plan saved under the wrong name.
  std::string started = Write("started.jsonl",
                              "{\"time\":null,\"serial\":\"ACM7T0042\",\"product\":\"Model7 Tower\","
                              "\"uuid\":null,\"script\":\"UpdateHWOld.nsh\",\"ran\":true,"
                              "\"status\":\"0x0\",\"message\":null}\n");
  std::string plan = Write("plan.csv", "input,kit,manufacturer\r\nfleet/a.bin,kit,Acme\r\n");
  std::string unused = Write("unused.jsonl", "");
  std::string examples = std::string(BUS_SOURCE_DIR) + "/examples";
  const struct {
    std::vector<std::string> arguments;
    int code;
  } cases[] = {
      {{"--kit", kit_, dump}, 0},
      {{"--kit", kit_, dir_ + "/missing.bin"}, 2},  // a misspelt path, not a row
      {{"--kit", Kit("no-version", "ProductName=X\r\n"), dump}, 0},
      {{"--kit", kit_}, 2},
      {{"--kit", dir_ + "/no-kit", dump}, 2},
      {{"--kit", empty_kit, dump}, 2},
      {{"--kit", kit_, "--format", "xml", dump}, 2},
      {{"--kit", kit_, "--jobs", "0", dump}, 2},
      {{"--kit", kit_, "--bogus", dump}, 2},
      {{"--help"}, 0},
      {{"--kit", kit_, "--fail-on", "warnings", dump}, 1},
      {{"--kit", kit_, "--fail-on", "no-kit,several-kits", dump}, 0},
      {{"--kit", kit_, "--records", unused, "--fail-on", "not-visited", dump}, 1},
      {{"--kit", kit_, "--records", started, "--fail-on", "not-visited,refused", dump}, 0},
      {{"--kit", kit_, "--records", started, "--fail-on", "started-still-below", dump}, 1},
      {{"--kit", kit_, "--records", plan, dump}, 2},  // no line of it is a record
      {{"--kit", kit_, "--fail-on", "not-visited", dump}, 2},  // a state only records give
      {{"--kit", kit_, "--fail-on", "visited", dump}, 2},
      {{"--kit", kit_, "--medium", "kit.iso", dump}, 2},  // the wrapper's, not the program's
      {{"--kit", kit_, "--output", "--format", "csv", dump}, 2},
      {{"--kit", kit_, "--output=--format", dump}, 2},
      {{"--kits", "--kit", kit_, dump}, 2},
      // README's nightly job on the examples: a machine still below, one never visited...
      {{"--kits", examples + "/kits", "--app-args", "-segments -product", "--records",
        examples + "/rollout", "--fail-on", "not-visited,started-still-below", dump,
        (corpus_ / "server-2.8-large.bin").string()},
       1},
      // ... and a machine at its kit's version.
      {{"--kits", examples + "/kits", "--app-args", "-segments -product", "--records",
        examples + "/rollout", "--fail-on", "not-visited,started-still-below",
        (corpus_ / "server-handle-DA00-repeated.bin").string()},
       0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    EXPECT_EQ(RunTool(BUS_FLEET_PATH, c.arguments).code, c.code);
  }
  EXPECT_FALSE(fs::exists("--format")) << "an option taken for a file name";

  // After --output, one line with the totals, a machine counted as one.
  std::string err;
  std::string report = dir_ + "/plan.html";
  testsupport::RunShellCommand(ShellQuote(BUS_FLEET_PATH) + " --kit " + ShellQuote(kit_) +
                                   " --records " + ShellQuote(unused) + " --format html --output " +
                                   ShellQuote(report) + " " + ShellQuote(dump) + " 2>&1 >/dev/null",
                               &err);
  EXPECT_EQ(err, "bios-update-select-fleet: wrote " + report +
                     ": 1 machine, 1 to update, 1 not visited.\n");
}

// A word of --app-args that is no option of the image would be passed over
// on every machine: refused, named with the options there are, and no report.
TEST_F(FleetTool, AppArgsThatAreNoOptionOfTheImage) {
  std::string dump = (corpus_ / "desktop-2.8.bin").string();
  const struct {
    std::string app_args;
    const char *refused;  // the word named; null: the report is made
  } cases[] = {
      {"-segments -product", nullptr},
      {"-V -Segments -kits -n -smbios3", nullptr},
      {"-log rollout.jsonl -v", nullptr},
      {"-segment -prodcut", "-segment"},
      {"-segments -prodcut", "-prodcut"},
      {"-v product", "product"},
      {"-v -LOG", nullptr},  // refused below: -log without its FILE
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.app_args);
    std::string command = ShellQuote(BUS_FLEET_PATH) + " --kit " + ShellQuote(kit_) +
                          " --app-args " + ShellQuote(c.app_args) + " --format csv " +
                          ShellQuote(dump);
    std::string out, err;
    int code = testsupport::RunShellCommand(command + " 2>/dev/null </dev/null", &out);
    testsupport::RunShellCommand(command + " 2>&1 >/dev/null </dev/null", &err);
    if (c.app_args == "-v -LOG") {
      EXPECT_EQ(code, 2);
      EXPECT_EQ(err, "bios-update-select-fleet: --app-args: -LOG needs its FILE after it\n");
      continue;
    }
    if (c.refused == nullptr) {
      EXPECT_EQ(code, 0);
      EXPECT_NE(out.find("desktop-2.8.bin"), std::string::npos) << out;
      continue;
    }
    EXPECT_EQ(code, 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, std::string("bios-update-select-fleet: --app-args: \"") + c.refused +
                       "\" is not an option of BiosUpdateSelect.efi; its options are -v, -n, "
                       "-segments, -product, -smbios3, -kits, -verify, -hwids, -log FILE\n");
  }
}

}  // namespace
