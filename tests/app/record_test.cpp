// The run record (-log FILE) on the simulated firmware: what each line holds
// for each way a run ends, texts that are not plain ASCII, the firmware
// clock, and every file call of the record failing in turn.
#include "app/record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "support/smbios_table_builder.h"

namespace {

using nlohmann::json;
using testsupport::SmbiosTableBuilder;

const std::string CONFIG = "ProductName=Model7\r\nVersion=20\r\n";
const std::string LOG = "rollout.jsonl";

const uint8_t UUID[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                           0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

struct Machine {
  std::string vendor = "Acme BIOS";
  std::string version = "10";
  std::string manufacturer = "Acme";
  std::string product = "Model7";
  std::string serial = "SN-1";
  std::string sku = "SKU-9";
  std::string family = "Model Line";
  bool bios = true;
  bool smbios = true;
};

// A BIOS Information structure (vendor, version, date) and a System
// Information structure of SMBIOS 2.4 length with the UUID above.
std::vector<uint8_t> Table(const Machine &m) {
  SmbiosTableBuilder b;
  if (m.bios) {
    b.Add(0, 0, {m.vendor, m.version, "03/04/2025"}, 0x18);
    b.SetField(0, 4, 1).SetField(0, 5, 2).SetField(0, 8, 3);
  }
  size_t system = b.Count();
  b.Add(1, 1, {m.manufacturer, m.product, m.serial, m.sku, m.family}, 0x1B);
  b.SetField(system, 4, 1).SetField(system, 5, 2).SetField(system, 6, 0).SetField(system, 7, 3);
  for (int i = 0; i < 16; ++i) b.SetField(system, 8 + i, UUID[i]);
  b.SetField(system, 0x19, 4).SetField(system, 0x1A, 5);
  // A Base Board structure whose product string is missing.
  b.Add(2, 3, {"Acme Boards"}, 0x08);
  b.SetField(b.Count() - 1, 4, 1).SetField(b.Count() - 1, 5, 2);
  b.Add(127, 2, {});
  return b.Bytes();
}

struct RecordRun {
  EFI_STATUS status = EFI_SUCCESS;
  std::vector<std::string> console;
  std::vector<std::u16string> executed;
  std::vector<size_t> open_at_execute;
  std::vector<std::string> log_at_execute;  // the file as each command started
  bool file = false;
  std::string log;  // the file's bytes after the run
  unsigned writes = 0;
  unsigned clock_reads = 0;
};

struct RecordSetup {
  Machine machine;
  std::vector<std::string> args = {"-log", LOG};
  std::string config = CONFIG;
  bool with_config = true;
  sim::Options options;
  std::string existing;  // the file before the run
  bool existing_file = false;
  std::vector<std::pair<sim::Call, unsigned>> faults;  // from the start of the run
};

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out.push_back(static_cast<char>(c));
  if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) out.resize(out.size() - 2);
  return out;
}

RecordRun RunWith(RecordSetup setup) {
  RecordRun run;
  setup.options.writable = true;
  setup.options.on_execute = [&run](sim::Firmware &fw, const std::u16string &) {
    std::string bytes;
    run.log_at_execute.push_back(fw.ReadFile(LOG, &bytes) ? bytes : "(no file)");
  };
  for (const std::string &arg : setup.args) {
    setup.options.args.push_back(std::u16string(arg.begin(), arg.end()));
  }
  sim::Firmware fw(setup.options);
  if (setup.machine.smbios) fw.PublishSmbios2(Table(setup.machine), 3);
  if (setup.with_config) fw.AddFile("UpdateConfig.ini", setup.config);
  if (setup.existing_file) fw.AddFile(LOG, setup.existing);
  for (const auto &fault : setup.faults) fw.FailNth(fault.first, fault.second);
  run.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  for (const std::u16string &line : fw.ConsoleLines()) run.console.push_back(Narrow(line));
  for (const sim::Event &event : fw.Events()) {
    if (event.kind != sim::Event::Execute) continue;
    run.executed.push_back(event.text);
    run.open_at_execute.push_back(event.open_files);
  }
  run.file = fw.ReadFile(LOG, &run.log);
  run.writes = fw.Count(sim::Call::FileWrite);
  run.clock_reads = fw.Count(sim::Call::GetTime);
  EXPECT_EQ(sim::LeakReport(fw), "");
  return run;
}

// The file's lines; each must be a whole JSON object.
std::vector<json> Records(const std::string &log) {
  std::vector<json> records;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    records.push_back(json::parse(line));
  }
  EXPECT_TRUE(log.empty() || log.back() == '\n') << log;
  return records;
}

const char *const KEYS[] = {"time",         "manufacturer", "product",      "serial",
                             "sku",          "family",       "uuid",         "baseboard",
                             "bios_vendor",  "bios_version", "bios_date",    "kit",
                             "kit_sha256",   "hardware_id",  "product_name", "version",
                             "options",      "script",       "ran",          "status",
                             "message"};

TEST(RunRecord, EachWayARunEndsLeavesItsLine) {
  Machine plain;
  Machine no_bios;
  no_bios.bios = false;
  Machine no_smbios;
  no_smbios.smbios = false;
  Machine other_model;
  other_model.product = "Model8";
  Machine newer;
  newer.version = "20";

  struct Case {
    const char *name;
    Machine machine;
    std::vector<std::string> extra_args;
    bool with_config;
    const char *config;
    json script;
    bool ran;
    const char *status;
    json message;
    json bios_version;
    const char *options;
    bool config_read;
  };
  const Case cases[] = {
      {"older runs the old script", plain, {}, true, nullptr, "UpdateHWOld.nsh", true, "0x0",
       nullptr, "10", "-log", true},
      {"same runs the new script", newer, {}, true, nullptr, "UpdateHWNew.nsh", true, "0x0",
       nullptr, "20", "-log", true},
      {"-n decides and runs nothing", plain, {"-n"}, true, nullptr, "UpdateHWOld.nsh", false,
       "0x0", nullptr, "10", "-v -n -log", true},
      {"no SMBIOS", no_smbios, {}, true, nullptr, nullptr, false, "0x15",
       "ERROR: SMBIOS table not found.", nullptr, "-log", false},
      {"no configuration", plain, {}, false, nullptr, nullptr, false, "0x15",
       "UpdateConfig.ini not found", nullptr, "-log", false},
      {"no Version=", plain, {}, true, "ProductName=Model7\r\n", nullptr, false, "0x15",
       "ERROR: Version= not found in UpdateConfig.ini.", nullptr, "-log", false},
      {"another model", other_model, {"-product", "-v"}, true, nullptr, nullptr, false, "0x15",
       "ERROR: product \"Model8\" is not ProductName= \"Model7\".", nullptr, "-v -product -log", true},
      {"no BIOS Information", no_bios, {"-v"}, true, nullptr, nullptr, false, "0x15", nullptr,
       nullptr, "-v -log", true},
      {"segments that cannot be compared", plain, {"-segments"}, true,
       "ProductName=Model7\r\nVersion=A1.2\r\n", nullptr, false, "0x15",
       "ERROR: installed \"10\" and configured \"A1.2\" cannot be compared.", "10",
       "-segments -log", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordSetup setup;
    setup.machine = c.machine;
    setup.args.insert(setup.args.begin(), c.extra_args.begin(), c.extra_args.end());
    setup.with_config = c.with_config;
    if (c.config != nullptr) setup.config = c.config;
    RecordRun run = RunWith(setup);
    ASSERT_TRUE(run.file);
    std::vector<json> records = Records(run.log);
    ASSERT_EQ(records.size(), 1u) << run.log;
    const json &r = records[0];
    std::vector<std::string> keys;
    for (auto it = r.begin(); it != r.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys.size(), sizeof(KEYS) / sizeof(KEYS[0]));
    for (const char *key : KEYS) EXPECT_TRUE(r.contains(key)) << key;
    // The line's own order, as a reader scanning by eye expects it.
    EXPECT_EQ(run.log.rfind("{\"time\":", 0), 0u) << run.log;
    EXPECT_EQ(r["script"], c.script);
    EXPECT_EQ(r["ran"], c.ran);
    EXPECT_EQ(r["status"], c.status);
    EXPECT_EQ(r["message"], c.message);
    EXPECT_EQ(r["bios_version"], c.bios_version);
    EXPECT_EQ(r["options"], c.options);
    EXPECT_EQ(r["kit"], nullptr);
    EXPECT_EQ(run.executed.size(), c.ran ? 1u : 0u);
    EXPECT_EQ(run.status == EFI_SUCCESS ? "0x0" : "0x15", std::string(c.status));
    for (size_t open : run.open_at_execute) EXPECT_EQ(open, 0u) << "the record is closed first";
    // A script that flashes may reset the machine: its line is whole first.
    for (const std::string &at : run.log_at_execute) EXPECT_EQ(at, run.log);
    bool smbios = c.machine.smbios;
    EXPECT_EQ(r["serial"], smbios ? json("SN-1") : json(nullptr));
    EXPECT_EQ(r["uuid"], smbios ? json("00112233-4455-6677-8899-aabbccddeeff") : json(nullptr));
    EXPECT_EQ(r["product_name"], c.config_read ? json("Model7") : json(nullptr));
    EXPECT_EQ(r["time"], "2026-03-01T08:30:15");
  }
}

TEST(RunRecord, HoldsTheMachineTheKitAndTheDecision) {
  RecordSetup setup;
  RecordRun run = RunWith(setup);
  std::vector<json> records = Records(run.log);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], json::parse(R"({
    "time": "2026-03-01T08:30:15", "manufacturer": "Acme", "product": "Model7",
    "serial": "SN-1", "sku": "SKU-9", "family": "Model Line",
    "uuid": "00112233-4455-6677-8899-aabbccddeeff",
    "baseboard": {"manufacturer": "Acme Boards", "product": null},
    "bios_vendor": "Acme BIOS", "bios_version": "10", "bios_date": "03/04/2025", "kit": null,
    "kit_sha256": null, "hardware_id": null, "product_name": "Model7", "version": "20",
    "options": "-log",
    "script": "UpdateHWOld.nsh", "ran": true, "status": "0x0", "message": null})"));
  EXPECT_EQ(run.console, std::vector<std::string>{});
}

TEST(RunRecord, WithoutLogNothingIsWrittenAndNoClockIsRead) {
  RecordSetup setup;
  setup.args.clear();
  RecordRun run = RunWith(setup);
  EXPECT_FALSE(run.file);
  EXPECT_EQ(run.writes, 0u);
  EXPECT_EQ(run.clock_reads, 0u);
  EXPECT_EQ(run.executed, std::vector<std::u16string>{u"UpdateHWOld.nsh"});
}

TEST(RunRecord, TextsOfAnyBytesStayValidJson) {
  struct Case {
    const char *name;
    std::string serial;
    std::string expected;
  };
  const Case cases[] = {
      {"quotes and backslash", "A\"B\\C", "A\"B\\C"},
      {"control bytes", std::string("A\tB\x1b[2J\x7f"), std::string("A\tB\x1b[2J\x7f")},
      {"line ends", "A\nB\rC\r\n", "A\nB\rC\r\n"},
      {"valid UTF-8 passes", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "Caf\u00e9 \u20ac \U0001F600"},
      {"a lone Latin-1 byte keeps its value", "Caf\xe9", "Caf\u00e9"},
      {"a cut sequence", "A\xe2\x82", "A\u00e2\u0082"},
      {"overlong and surrogate forms", "\xc0\xaf\xed\xa0\x80", "\u00c0\u00af\u00ed\u00a0\u0080"},
      {"past U+10FFFF", "\xf4\x90\x80\x80", "\u00f4\u0090\u0080\u0080"},
      {"longer than the limit", std::string(300, 'x'), std::string(RECORD_TEXT_LIMIT, 'x')},
      // The limit falls inside a character: the character is left out whole.
      {"a two-byte character across the limit",
       std::string(RECORD_TEXT_LIMIT - 1, 'x') + "\xc3\xa9yy", std::string(RECORD_TEXT_LIMIT - 1, 'x')},
      {"a four-byte character across the limit",
       std::string(RECORD_TEXT_LIMIT - 2, 'x') + "\xf0\x9f\x98\x80", std::string(RECORD_TEXT_LIMIT - 2, 'x')},
      {"a character ending at the limit",
       std::string(RECORD_TEXT_LIMIT - 2, 'x') + "\xc3\xa9y", std::string(RECORD_TEXT_LIMIT - 2, 'x') + "\u00e9"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordSetup setup;
    setup.machine.serial = c.serial;
    setup.machine.vendor = c.serial;
    RecordRun run = RunWith(setup);
    std::vector<json> records = Records(run.log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["serial"], c.expected);
    EXPECT_EQ(records[0]["bios_vendor"], c.expected);
    // Nothing the terminal would act on reaches the file raw.
    for (char byte : run.log.substr(0, run.log.size() - 1)) {
      EXPECT_FALSE(static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f) << int(byte);
    }
  }
}

TEST(RunRecord, TimeFromTheFirmwareClock) {
  struct Case {
    const char *name;
    EFI_TIME clock;
    bool fails;
    json expected;
  };
  const Case cases[] = {
      {"zone not kept", {2026, 3, 1, 8, 30, 15, 0, 0, EFI_UNSPECIFIED_TIMEZONE, 0, 0}, false,
       "2026-03-01T08:30:15"},
      {"UTC", {2027, 12, 31, 23, 59, 59, 0, 0, 0, 0, 0}, false, "2027-12-31T23:59:59Z"},
      {"east of UTC", {2026, 1, 2, 3, 4, 5, 0, 0, 90, 0, 0}, false, "2026-01-02T03:04:05+01:30"},
      {"west, daylight saving", {2026, 7, 4, 12, 0, 0, 0, 0, -300, 3, 0}, false,
       "2026-07-04T12:00:00-04:00"},
      {"the clock fails", {2026, 3, 1, 8, 30, 15, 0, 0, 0, 0, 0}, true, nullptr},
      {"month 13", {2026, 13, 1, 8, 30, 15, 0, 0, 0, 0, 0}, false, nullptr},
      {"second 60", {2026, 3, 1, 8, 30, 60, 0, 0, 0, 0, 0}, false, nullptr},
      {"a zone out of range", {2026, 3, 1, 8, 30, 15, 0, 0, 1500, 0, 0}, false,
       "2026-03-01T08:30:15"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordSetup setup;
    setup.options.clock = c.clock;
    if (c.fails) setup.faults.push_back({sim::Call::GetTime, 1});
    RecordRun run = RunWith(setup);
    std::vector<json> records = Records(run.log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["time"], c.expected);
    EXPECT_EQ(run.executed.size(), 1u);
  }
}

TEST(RunRecord, AppendsOnALineOfItsOwn) {
  const std::string earlier = "{\"serial\":\"SN-0\"}\n";
  struct Case {
    const char *name;
    std::string before;
    size_t lines_before;
  };
  const Case cases[] = {
      {"a new file", "", 0},
      {"after whole lines", earlier + earlier, 2},
      // A power cut or a full medium left this one without its LF.
      {"after a cut line", earlier + "{\"serial\":\"SN", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordSetup setup;
    setup.existing = c.before;
    setup.existing_file = !c.before.empty();
    RecordRun run = RunWith(setup);
    ASSERT_EQ(run.log.compare(0, c.before.size(), c.before), 0);
    std::string added = run.log.substr(c.before.size());
    bool cut = !c.before.empty() && c.before.back() != '\n';
    ASSERT_EQ(added.rfind(cut ? "\n{" : "{", 0), 0u) << added;
    EXPECT_EQ(json::parse(added)["serial"], "SN-1");
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), '\n'),
              static_cast<long>(c.lines_before + 1 + (cut ? 1 : 0)));
  }
}

TEST(RunRecord, EachFileCallOfTheRecordFailingInTurnGivesANoteAndTheUpdateGoesOn) {
  const std::string earlier = "{\"serial\":\"SN-0\"}\n";
  const sim::Call kinds[] = {sim::Call::FileOpen,  sim::Call::FileGetInfo, sim::Call::FileSetPosition,
                             sim::Call::FileRead,  sim::Call::FileWrite,   sim::Call::FileFlush,
                             sim::Call::FileClose};
  // The record's calls of each kind come after those of the run without a
  // record, which reads UpdateConfig.ini's whole values as -log (and
  // -product) do; a run with a record and no fault counts them all.
  auto counts = [](const std::vector<std::u16string> &args) {
    sim::Options o;
    o.writable = true;
    o.args.insert(o.args.end(), args.begin(), args.end());
    sim::Firmware fw(o);
    fw.PublishSmbios2(Table(Machine()), 3);
    fw.AddFile("UpdateConfig.ini", CONFIG);
    fw.AddFile(LOG, "{\"serial\":\"SN-0\"}\n");
    EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main), EFI_SUCCESS);
    std::map<sim::Call, unsigned> made;
    for (sim::Call kind : {sim::Call::FileOpen, sim::Call::FileGetInfo, sim::Call::FileSetPosition,
                           sim::Call::FileRead, sim::Call::FileWrite, sim::Call::FileFlush,
                           sim::Call::FileClose}) {
      made[kind] = fw.Count(kind);
    }
    return made;
  };
  std::map<sim::Call, unsigned> without = counts({u"-product"});
  std::map<sim::Call, unsigned> with = counts({u"-log", u"rollout.jsonl"});

  const std::string prefix = "Note: no record written to rollout.jsonl: Device Error (";
  std::set<std::string> steps;  // the steps whose failure was noted
  for (sim::Call kind : kinds) {
    ASSERT_GT(with[kind], without[kind]) << sim::CallName(kind);
    for (unsigned nth = without[kind] + 1; nth <= with[kind]; ++nth) {
      SCOPED_TRACE(std::string(sim::CallName(kind)) + " #" + std::to_string(nth));
      RecordSetup setup;
      setup.existing = earlier;
      setup.existing_file = true;
      setup.faults.push_back({kind, nth});
      RecordRun run = RunWith(setup);
      // At most the note; the update goes on as without a record.
      ASSERT_LE(run.console.size(), 1u);
      if (!run.console.empty()) {
        const std::string &note = run.console[0];
        ASSERT_EQ(note.rfind(prefix, 0), 0u) << note;
        ASSERT_EQ(note.substr(note.size() - 2), ").");
        steps.insert(note.substr(prefix.size(), note.size() - prefix.size() - 2));
      }
      EXPECT_EQ(run.executed, std::vector<std::u16string>{u"UpdateHWOld.nsh"});
      EXPECT_EQ(run.status, EFI_SUCCESS);
      ASSERT_EQ(run.log.compare(0, earlier.size(), earlier), 0);

      // The next machine's record starts on a line of its own, whatever
      // the failed call left behind: only a cut write leaves a broken line.
      RecordSetup next;
      next.existing = run.log;
      next.existing_file = true;
      next.machine.serial = "SN-2";
      RecordRun after = RunWith(next);
      std::istringstream lines(after.log);
      std::string line;
      std::vector<std::string> whole;
      size_t broken = 0;
      while (std::getline(lines, line)) {
        if (line.empty()) continue;
        json parsed = json::parse(line, nullptr, false);
        if (parsed.is_discarded()) {
          ++broken;
        } else {
          whole.push_back(parsed["serial"]);
        }
      }
      EXPECT_EQ(broken, kind == sim::Call::FileWrite ? 1u : 0u);
      ASSERT_GE(whole.size(), 2u);
      EXPECT_EQ(whole.front(), "SN-0");
      EXPECT_EQ(whole.back(), "SN-2");
    }
  }
  EXPECT_EQ(steps, (std::set<std::string>{"open", "position", "write", "flush", "close"}));
}

TEST(RunRecord, AFileThatCannotTakeARecordGetsANote) {
  struct Case {
    const char *name;
    bool writable;
    std::vector<std::string> args;
    bool folder;
    const char *note;
  };
  const Case cases[] = {
      {"a read-only medium", false, {"-log", "rollout.jsonl"}, false,
       "Note: no record written to rollout.jsonl: Write Protected (open)."},
      {"a folder of that name", true, {"-log", "rollout.jsonl"}, true,
       "Note: no record written to rollout.jsonl: Unsupported (write)."},
      {"no file after -log", true, {"-log"}, false,
       "Note: no record written to : no file name after -log."},
      {"a folder that does not exist", true, {"-log", "missing\\rollout.jsonl"}, false,
       "Note: no record written to missing\\rollout.jsonl: Not Found (open)."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Options o;
    o.writable = c.writable;
    for (const std::string &arg : c.args) o.args.push_back(std::u16string(arg.begin(), arg.end()));
    sim::Firmware fw(o);
    fw.PublishSmbios2(Table(Machine()), 3);
    fw.AddFile("UpdateConfig.ini", CONFIG);
    if (c.folder) fw.AddFile("rollout.jsonl/earlier.jsonl", "");
    EFI_STATUS status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
    EXPECT_EQ(status, EFI_SUCCESS);
    EXPECT_EQ(fw.Executed(), std::vector<std::u16string>{u"UpdateHWOld.nsh"});
    std::vector<std::string> console;
    for (const std::u16string &line : fw.ConsoleLines()) console.push_back(Narrow(line));
    EXPECT_EQ(console, std::vector<std::string>{c.note});
    EXPECT_EQ(sim::LeakReport(fw), "");
  }
}

TEST(RunRecord, BothShellsWriteTheSameLines) {
  for (sim::ShellKind shell : {sim::ShellKind::Uefi2, sim::ShellKind::Legacy}) {
    SCOPED_TRACE(shell == sim::ShellKind::Uefi2 ? "UEFI Shell 2.0" : "EFI 1.x shell");
    // Two BIOS Information structures: one line each, in table order.
    SmbiosTableBuilder b;
    b.Add(0, 0, {"Acme", "10", "03/04/2025"}, 0x18).SetField(0, 5, 2);
    b.Add(0, 1, {"Acme", "30", "03/04/2025"}, 0x18).SetField(1, 5, 2);
    b.Add(127, 2, {});
    sim::Options o;
    o.shell = shell;
    o.writable = true;
    o.args = {u"BiosUpdateSelect.efi", u"-log", u"\\rollout.jsonl"};
    std::vector<size_t> lines_at_execute;
    o.on_execute = [&lines_at_execute](sim::Firmware &firmware, const std::u16string &) {
      std::string bytes;
      firmware.ReadFile(LOG, &bytes);
      lines_at_execute.push_back(Records(bytes).size());
    };
    sim::Firmware fw(o);
    fw.PublishSmbios2(b.Bytes(), 3);
    fw.AddFile("UpdateConfig.ini", CONFIG);
    fw.AddFile(LOG, "");
    EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main), EFI_SUCCESS);
    std::string log;
    ASSERT_TRUE(fw.ReadFile(LOG, &log));
    std::vector<json> records = Records(log);
    ASSERT_EQ(records.size(), 2u) << log;
    EXPECT_EQ(records[0]["script"], "UpdateHWOld.nsh");
    EXPECT_EQ(records[1]["script"], "UpdateHWNew.nsh");
    // Each script starts with its own line whole in the file.
    EXPECT_EQ(lines_at_execute, (std::vector<size_t>{1, 2}));
    EXPECT_EQ(records[0]["serial"], nullptr);  // no System Information structure
    EXPECT_EQ(fw.ConsoleLines(), std::vector<std::u16string>{});
    EXPECT_EQ(sim::LeakReport(fw), "");
  }
}

TEST(RunRecord, KitsNamesTheKitFolderChosen) {
  for (sim::ShellKind shell : {sim::ShellKind::Uefi2, sim::ShellKind::Legacy}) {
    SCOPED_TRACE(shell == sim::ShellKind::Uefi2 ? "UEFI Shell 2.0" : "EFI 1.x shell");
    sim::Options o;
    o.shell = shell;
    o.writable = true;
    o.args = {u"BiosUpdateSelect.efi", u"-kits", u"-log", u"\\rollout.jsonl"};
    sim::Firmware fw(o);
    fw.PublishSmbios2(Table(Machine()), 3);
    fw.AddFile("kits/model7/UpdateConfig.ini", CONFIG);
    fw.AddFile("kits/other/UpdateConfig.ini", "ProductName=Other*\r\nVersion=1\r\n");
    EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main), EFI_SUCCESS);
    std::string log;
    ASSERT_TRUE(fw.ReadFile(LOG, &log));
    std::vector<json> records = Records(log);
    ASSERT_EQ(records.size(), 1u) << log;
    EXPECT_EQ(records[0]["kit"], "kits\\model7");
    EXPECT_EQ(records[0]["options"], "-kits -log");
    EXPECT_EQ(records[0]["product_name"], "Model7");
    EXPECT_EQ(records[0]["script"], "UpdateHWOld.nsh");
    EXPECT_EQ(sim::LeakReport(fw), "");
  }
}

TEST(RunRecord, NothingIsWrittenToAMediumLoadedFromACdrom) {
  // The image's device path as firmware gives it for a CD-ROM's boot
  // image, and for a stick's partition: end node after one media node.
  const std::vector<uint8_t> cdrom = {0x04, 0x02, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0xFF, 4, 0};
  const std::vector<uint8_t> disk = {0x04, 0x01, 42, 0};
  struct Case {
    const char *name;
    std::vector<uint8_t> path;
    const char *file;
    bool written;
  };
  std::vector<uint8_t> hard_disk = disk;
  hard_disk.resize(42, 0);
  hard_disk.insert(hard_disk.end(), {0x7F, 0xFF, 4, 0});
  const Case cases[] = {
      {"a CD-ROM", cdrom, "\\rollout.jsonl", false},
      {"a stick", hard_disk, "\\rollout.jsonl", true},
      // Another volume is not the image's: it is not looked at.
      {"a CD-ROM, the record on another volume", cdrom, "fs0:\\rollout.jsonl", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Options o;
    o.writable = true;
    o.args = {u"BiosUpdateSelect.efi", u"-log", std::u16string(c.file, c.file + strlen(c.file))};
    sim::Firmware fw(o);
    fw.PublishSmbios2(Table(Machine()), 3);
    fw.AddFile("UpdateConfig.ini", CONFIG);
    EFI_HANDLE device = fw.CreateHandle();
    std::vector<uint8_t> path = c.path;
    fw.InstallProtocol(device, EFI_DEVICE_PATH_PROTOCOL_GUID, path.data());
    EFI_LOADED_IMAGE_PROTOCOL loaded = {};
    loaded.DeviceHandle = device;
    fw.InstallProtocol(fw.ImageHandle(), EFI_LOADED_IMAGE_PROTOCOL_GUID, &loaded);
    EXPECT_EQ(ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main), EFI_SUCCESS);
    EXPECT_EQ(fw.Executed(), std::vector<std::u16string>{u"UpdateHWOld.nsh"});
    std::string log;
    EXPECT_EQ(fw.ReadFile(LOG, &log), c.written);
    std::vector<std::string> console;
    for (const std::u16string &line : fw.ConsoleLines()) console.push_back(Narrow(line));
    std::vector<std::string> notes;
    if (!c.written) notes.push_back("Note: no record written to \\rollout.jsonl: Write Protected (open).");
    EXPECT_EQ(console, notes);
    EXPECT_EQ(sim::LeakReport(fw), "");
  }
}

TEST(FormatSmbiosUuid, AsLinuxShowsIt) {
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    bool little_endian;
    const char *expected;  // null: not set
  };
  std::vector<uint8_t> sample(UUID, UUID + 16);
  const Case cases[] = {
      {"SMBIOS 2.6 and later", sample, true, "00112233-4455-6677-8899-aabbccddeeff"},
      {"before SMBIOS 2.6", sample, false, "33221100-5544-7766-8899-aabbccddeeff"},
      {"all zeros", std::vector<uint8_t>(16, 0x00), true, nullptr},
      {"all ones", std::vector<uint8_t>(16, 0xFF), true, nullptr},
      {"one byte set", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, true,
       "00000000-0000-0000-0000-000000000001"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char text[UUID_TEXT_SIZE];
    bool held = FormatSmbiosUuid(c.bytes.data(), c.little_endian, text);
    ASSERT_EQ(held, c.expected != nullptr);
    if (held) {
      EXPECT_STREQ(text, c.expected);
    }
  }
}

}  // namespace
