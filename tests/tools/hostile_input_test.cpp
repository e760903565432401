// The fleet report and the preview tool as an attacker or a careless admin
// would run them, as root: special files, planted links, names with line
// ends, outputs that are inputs, full disks, closed and failing standard
// output, unreadable kits, signals. Each case checks the exit status, the
// one line on the error stream, and that nothing but the asked output
// changed: every file under the test's folder (its type, bytes or link
// target) is the same before and after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/scratch_folder.h"
#include "support/smbios_table_builder.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testsupport::ShellQuote;

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry below `root` without following links: its type and its bytes
// (regular files), its target (links) or its device numbers.
std::map<std::string, std::string> Snapshot(const std::string &root) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::string path = it->path().string();
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    std::string &entry = entries[path.substr(root.size())];
    if (S_ISREG(info.st_mode)) {
      entry = "file " + ReadFile(path);
    } else if (S_ISLNK(info.st_mode)) {
      entry = "link " + fs::read_symlink(path).string();
    } else if (S_ISDIR(info.st_mode)) {
      entry = "folder";
    } else {
      entry = "special " + std::to_string(info.st_mode & S_IFMT) + " " + std::to_string(info.st_rdev);
    }
  }
  return entries;
}

// A dump of one machine: BIOS Information with `version` as its string 2
// (the field naming it), System Information naming `product`.
std::string MachineDump(const std::string &product, const std::string &version) {
  testsupport::SmbiosTableBuilder table;
  table.Raw({0, 0x12, 0, 0, 1, 2, 0, 0xE8, 3, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0});
  for (const std::string &text : {std::string("Acme"), version, std::string("01/02/2026")}) {
    for (char c : text) table.Raw({static_cast<uint8_t>(c)});
    table.Raw({0});
  }
  table.Raw({0});
  table.Raw({1, 8, 1, 0, 1, 2, 0, 0, 'A', 'c', 'm', 'e', 0});
  for (char c : product) table.Raw({static_cast<uint8_t>(c)});
  table.Raw({0, 0});
  std::string dump(32, '\0');
  std::memcpy(&dump[0], "_SM_", 4);
  std::memcpy(&dump[0x10], "_DMI_", 5);
  uint16_t length = static_cast<uint16_t>(table.Bytes().size()), count = 2;
  uint32_t address = 32;
  std::memcpy(&dump[0x16], &length, 2);
  std::memcpy(&dump[0x18], &address, 4);
  std::memcpy(&dump[0x1C], &count, 2);
  dump.append(table.Bytes().begin(), table.Bytes().end());
  return dump;
}

struct ToolRun {
  int code;
  std::string out;  // standard output, when the case keeps it
  std::string err;
};

class HostileInput : public testsupport::ScratchFolderTest {
 public:
  // The cases' own set-up reaches the folder through these.
  using ScratchFolderTest::Write;
  using ScratchFolderTest::dir_;

  void SetUp() override {
    ScratchFolderTest::SetUp();
    kit_ = Write("kit/UpdateConfig.ini", "ProductName=Model7 Tower\r\nVersion=1.27\r\n");
    kit_ = dir_ + "/kit";
    dump_ = Write("in/desktop.bin", ReadFile(std::string(BUS_SOURCE_DIR) + "/tests/data/dumps/desktop-2.8.bin"));
    err_ = dir_ + ".err";
  }
  void TearDown() override {
    umount2((dir_ + "/small").c_str(), MNT_DETACH);
    std::remove(err_.c_str());
    // rm takes paths past the system's length limit, one folder at a time.
    std::string out;
    testsupport::RunShellCommand("rm -rf " + ShellQuote(dir_), &out);
  }

  // Runs `tool` with `arguments` under a time limit; "{}" in an argument
  // or in `stdout_to` stands for the test's folder. `stdout_to` is the
  // shell redirection of standard output; empty: kept in ToolRun::out.
  ToolRun Tool(const std::string &tool, const std::vector<std::string> &arguments,
           const std::string &stdout_to = "") {
    std::string command = "timeout 60 " + ShellQuote(tool);
    for (const std::string &argument : arguments) command += " " + ShellQuote(Expand(argument));
    command += " 2>" + ShellQuote(err_) + " </dev/null " + Expand(stdout_to);
    ToolRun run;
    run.code = testsupport::RunShellCommand(command, &run.out);
    run.err = ReadFile(err_);
    return run;
  }
  std::string Expand(std::string text) const {
    for (size_t at; (at = text.find("{}")) != std::string::npos;) text.replace(at, 2, dir_);
    return text;
  }
  // A tmpfs of `bytes` at {}/small, or false where mounting is not allowed.
  bool SmallFileSystem(size_t bytes) {
    fs::create_directories(dir_ + "/small");
    std::string options = "size=" + std::to_string(bytes);
    return mount("tmpfs", (dir_ + "/small").c_str(), "tmpfs", 0, options.c_str()) == 0;
  }

  // The one line of a refusal: the tool's name, `holds`, one line end.
  void ExpectOneLine(const ToolRun &run, const std::string &tool, const std::string &holds) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind(tool + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(holds), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Traceback"), std::string::npos);
  }

  std::string kit_, dump_, err_;
};

const char FLEET[] = "bios-update-select-fleet";
const char PREVIEW[] = "bios-update-select-preview";

TEST_F(HostileInput, FleetReportWritesOnlyTheAskedOutputOrRefusesInOneLine) {
  const struct {
    const char *what;
    std::function<void(HostileInput *)> make;  // the hostile thing, under {}
    std::vector<std::string> arguments;
    std::string stdout_to;
    int code;
    std::string line;    // what the one line holds; empty: no line
    std::string output;  // the one path that may change; empty: none
  } cases[] = {
      {"an empty --output= takes no dump for its value", nullptr,
       {"--kit", "{}/kit", "--output=", "{}/in/desktop.bin", "{}/in/desktop.bin"}, "", 2,
       "--output= has no value", ""},
      {"--output given an empty name", nullptr, {"--kit", "{}/kit", "--output", "", "{}/in"}, "", 2,
       "--output needs a file name", ""},
      {"--output a character device",
       [](HostileInput *t) { ASSERT_EQ(mknod((t->dir_ + "/out/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0); },
       {"--kit", "{}/kit", "--output", "{}/out/null", "{}/in"}, "", 2, "special file", ""},
      {"--output a FIFO",
       [](HostileInput *t) { ASSERT_EQ(mkfifo((t->dir_ + "/out/fifo").c_str(), 0600), 0); },
       {"--kit", "{}/kit", "--output", "{}/out/fifo", "{}/in"}, "", 2, "special file", ""},
      {"--output a link planted to a file of root's",
       [](HostileInput *t) {
         t->Write("out/victim", "private key\n");
         fs::create_symlink(t->dir_ + "/out/victim", t->dir_ + "/out/report.csv");
       },
       {"--kit", "{}/kit", "--output", "{}/out/report.csv", "{}/in"}, "", 2, "symbolic link", ""},
      {"a link planted at the old temporary name is never followed",
       [](HostileInput *t) {
         t->Write("out/victim", "private key\n");
         fs::create_symlink(t->dir_ + "/out/victim", t->dir_ + "/out/report.csv.partial");
       },
       {"--kit", "{}/kit", "--output", "{}/out/report.csv", "{}/in"}, "", 0, "", "/out/report.csv"},
      {"--output a named dump", nullptr,
       {"--kit", "{}/kit", "--output", "{}/in/desktop.bin", "{}/in/desktop.bin"}, "", 2, "is an input", ""},
      {"--output a dump the search finds",
       [](HostileInput *t) { t->Write("in/more/old.bin", "_SM_ an old report named like a dump"); },
       {"--kit", "{}/kit", "--output", "{}/in/more/old.bin", "{}/in"}, "", 2, "is an input", ""},
      {"--output a hard link to a dump",
       [](HostileInput *t) { fs::create_hard_link(t->dump_, t->dir_ + "/out/report.csv"); },
       {"--kit", "{}/kit", "--output", "{}/out/report.csv", "{}/in"}, "", 2, "is an input", ""},
      {"--output the kit's UpdateConfig.ini", nullptr,
       {"--kit", "{}/kit", "--output", "{}/kit/UpdateConfig.ini", "{}/in"}, "", 2, "is an input", ""},
      {"--output in a folder that is not there", nullptr,
       {"--kit", "{}/kit", "--output", "{}/out/missing/report.csv", "{}/in"}, "", 2,
       "cannot be written in its folder", ""},
      {"--output whose name is as long as a name can be", nullptr,
       {"--kit", "{}/kit", "--output", "{}/out/" + std::string(254, 'r'), "{}/in"}, "", 0, "",
       "/out/" + std::string(254, 'r')},
      {"a newline in a kit's name stays in the one line",
       [](HostileInput *t) { fs::create_directories(t->dir_ + "/two\nlines"); },
       {"--kit", "{}/two\nlines", "{}/in"}, "", 2, "two\\x0Alines", ""},
      {"standard output on a full device", nullptr, {"--kit", "{}/kit", "{}/in"}, ">/dev/full", 2,
       "standard output: cannot be written: No space left on device", ""},
      {"standard output closed", nullptr, {"--kit", "{}/kit", "{}/in"}, ">&-", 2,
       "standard output is closed", ""},
      {"standard output closed, every format",
       nullptr, {"--kit", "{}/kit", "--format", "html", "{}/in"}, ">&-", 2, "standard output is closed", ""},
      {"standard output full, json", nullptr, {"--kit", "{}/kit", "--format", "json", "{}/in"},
       ">/dev/full", 2, "No space left on device", ""},
      {"a kit's UpdateConfig.ini that gives a read error",
       [](HostileInput *t) {
         fs::create_directories(t->dir_ + "/bad");
         fs::create_symlink("/proc/self/mem", t->dir_ + "/bad/UpdateConfig.ini");
       },
       {"--kit", "{}/bad", "{}/in"}, "", 2, "UpdateConfig.ini could not be read: read error", ""},
      {"a kit's UpdateConfig.ini that is a link to nothing",
       [](HostileInput *t) {
         fs::create_directories(t->dir_ + "/bad");
         fs::create_symlink(t->dir_ + "/gone", t->dir_ + "/bad/UpdateConfig.ini");
       },
       {"--kit", "{}/bad", "{}/in"}, "", 2, "UpdateConfig.ini could not be read: a symbolic link to nothing", ""},
      {"a kit's UpdateConfig.ini that is a link to itself",
       [](HostileInput *t) {
         fs::create_directories(t->dir_ + "/bad");
         fs::create_symlink("UpdateConfig.ini", t->dir_ + "/bad/UpdateConfig.ini");
       },
       {"--kit", "{}/bad", "{}/in"}, "", 2, "a symbolic link that loops", ""},
      {"a kit's UpdateConfig.ini that is a FIFO neither hangs nor reads as empty",
       [](HostileInput *t) {
         fs::create_directories(t->dir_ + "/bad");
         ASSERT_EQ(mkfifo((t->dir_ + "/bad/UpdateConfig.ini").c_str(), 0600), 0);
       },
       {"--kit", "{}/bad", "{}/in"}, "", 2, "UpdateConfig.ini could not be read: not a regular file", ""},
      {"a kit's UpdateConfig.ini of megabytes is refused at once, not searched once per machine",
       [](HostileInput *t) {
         fs::create_directories(t->dir_ + "/big");
         std::ofstream big(t->dir_ + "/big/UpdateConfig.ini", std::ios::binary);
         big << "Version=1.27\r\n";
         big.seekp(2 << 20);
         big << "\r\n";
       },
       {"--kit", "{}/big", "{}/in", "{}/in", "{}/in"}, "", 2,
       "UpdateConfig.ini could not be read: larger than 1048576 bytes", ""},
      {"a kit of a library whose UpdateConfig.ini is a link to /dev/zero",
       [](HostileInput *t) {
         fs::create_directories(t->dir_ + "/lib/bad");
         fs::create_symlink("/dev/zero", t->dir_ + "/lib/bad/UpdateConfig.ini");
       },
       {"--kits", "{}/lib", "{}/in"}, "", 2, "UpdateConfig.ini could not be read: not a regular file", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    SetUp();
    fs::create_directories(dir_ + "/out");
    if (c.make) c.make(this);
    std::map<std::string, std::string> before = Snapshot(dir_);
    ToolRun run = Tool(BUS_FLEET_PATH, c.arguments, c.stdout_to.empty() ? ">/dev/null" : c.stdout_to);
    EXPECT_EQ(run.code, c.code) << run.err;
    if (c.line.empty() && (c.code != 0 || c.output.empty())) {
      EXPECT_EQ(run.err, "");
    } else if (c.line.empty()) {
      ExpectOneLine(run, FLEET, ": wrote ");  // the report's totals, after its file
    } else {
      ExpectOneLine(run, FLEET, c.line);
    }
    std::map<std::string, std::string> after = Snapshot(dir_);
    if (!c.output.empty()) {
      ASSERT_EQ(after.count(c.output), 1u) << "no report at " << c.output;
      EXPECT_EQ(after[c.output].rfind("file input,kit,", 0), 0u) << after[c.output];
      before.erase(c.output);
      after.erase(c.output);
    }
    EXPECT_EQ(after, before);
  }
}

TEST_F(HostileInput, TwoRunsSharingOneOutputLeaveOneWholeReport) {
  std::string corpus = std::string(BUS_SOURCE_DIR) + "/tests/data/dumps";
  std::string inputs;
  for (int i = 0; i < 15; ++i) inputs += " " + ShellQuote(corpus);
  std::string report = dir_ + "/out/report";
  fs::create_directories(dir_ + "/out");
  std::string run = ShellQuote(BUS_FLEET_PATH) + " --kit " + ShellQuote(kit_) + " --jobs 1 --output " +
                    ShellQuote(report) + " --format ";
  std::string out;
  int code = testsupport::RunShellCommand("(" + run + "json" + inputs + " & " + run + "csv" + inputs +
                                              " & wait) 2>&1",
                                          &out);
  EXPECT_EQ(code, 0) << out;
  // Each run's one line: the file it wrote, and its totals.
  std::string line = std::string(FLEET) + ": wrote " + report + ": ";
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
  EXPECT_EQ(out.rfind(line, 0), 0u) << out;
  EXPECT_NE(out.find("\n" + line), std::string::npos) << out;
  std::string text = ReadFile(report);
  Json json = Json::parse(text, nullptr, false);
  if (text.rfind("[", 0) == 0) {
    ASSERT_TRUE(json.is_array()) << "a json report mixed with another: " << text.substr(0, 200);
    EXPECT_EQ(json.size() % 15, 0u);
  } else {
    EXPECT_EQ(text.rfind("input,kit,", 0), 0u) << text.substr(0, 200);
    EXPECT_EQ(text.find("[\n{"), std::string::npos) << "a csv report mixed with json";
    EXPECT_EQ(text.find("\"input\":"), std::string::npos) << "a csv report mixed with json";
  }
  // Nothing but the report in its folder.
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir_ + "/out")) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"report"});
}

TEST_F(HostileInput, FleetReportOnAFullFileSystemLeavesNothing) {
  if (!SmallFileSystem(16384)) GTEST_SKIP() << "mounting a tmpfs needs root, as the tools run";
  Write("small/old.html", "last week's report\n");
  std::map<std::string, std::string> before = Snapshot(dir_);
  std::string corpus = std::string(BUS_SOURCE_DIR) + "/tests/data/dumps";
  ToolRun run = Tool(BUS_FLEET_PATH, {"--kit", "{}/kit", "--format", "html", "--output", "{}/small/old.html", corpus},
                 ">/dev/null");
  EXPECT_EQ(run.code, 2);
  ExpectOneLine(run, FLEET, "--output " + dir_ + "/small/old.html: cannot be written: No space left on device");
  EXPECT_EQ(Snapshot(dir_), before);  // last week's report, and no temporary file beside it
}

TEST_F(HostileInput, FleetReportEndedBySignalsLeavesNoTemporaryFile) {
  // Enough machines that the run is still writing when the signal comes.
  std::vector<std::string> arguments = {"--kit", kit_, "--jobs", "1", "--output", dir_ + "/out/report.json",
                                        "--format", "json"};
  for (int i = 0; i < 4000; ++i) arguments.push_back(dump_);
  fs::create_directories(dir_ + "/out");
  for (int signal_number : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signal_number));
    std::map<std::string, std::string> before = Snapshot(dir_);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<char *> argv = {const_cast<char *>(BUS_FLEET_PATH)};
      for (std::string &argument : arguments) argv.push_back(&argument[0]);
      argv.push_back(nullptr);
      if (freopen("/dev/null", "w", stderr) == nullptr) _exit(126);
      signal(SIGINT, SIG_DFL);  // a run in the background starts with it ignored
      execv(BUS_FLEET_PATH, argv.data());
      _exit(127);
    }
    // The temporary file appears once the kit is read; then the signal.
    bool writing = false;
    for (int wait = 0; wait < 500 && !writing; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (const auto &entry : fs::directory_iterator(dir_ + "/out")) writing |= entry.is_regular_file();
    }
    EXPECT_TRUE(writing);
    kill(pid, signal_number);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal: make it longer";
    EXPECT_EQ(WTERMSIG(status), signal_number);
    EXPECT_EQ(Snapshot(dir_), before);
  }
}

TEST_F(HostileInput, EveryInputFoundIsARow) {
  fs::create_symlink(dir_ + "/gone.bin", dir_ + "/in/dangling.bin");
  fs::create_symlink("loop.bin", dir_ + "/in/loop.bin");
  ASSERT_EQ(mkfifo((dir_ + "/in/fifo.bin").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir_ + "/in/zero.bin");
  // A dump whose path is longer than the system's limit, in a folder whose
  // own path is not: the search meets its name, and only its name.
  std::string deep = dir_ + "/in/deep";
  fs::create_directories(deep);
  while (deep.size() + 201 < 4090) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep.size();
  }
  int folder = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  std::string name = std::string(246, 'm') + ".bin";
  ASSERT_GT(deep.size() + 1 + name.size(), 4096u);
  std::string dump = ReadFile(dump_);
  int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, dump.data(), dump.size()), static_cast<ssize_t>(dump.size()));
  close(file);
  close(folder);

  for (const char *jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    ToolRun run = Tool(BUS_FLEET_PATH, {"--kit", "{}/kit", "--jobs", jobs, "--format", "json", "{}/in"});
    ASSERT_EQ(run.code, 0) << run.err;
    Json report = Json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_array()) << run.out;
    std::map<std::string, std::string> errors;
    for (const Json &row : report) {
      std::string input = row["input"];
      errors[input.size() > 60 ? input.substr(input.size() - 60) : input.substr(dir_.size())] =
          row.value("error", "");
    }
    EXPECT_EQ(errors["/in/desktop.bin"], "");
    EXPECT_EQ(errors["/in/dangling.bin"], "a symbolic link to nothing");
    EXPECT_EQ(errors["/in/loop.bin"], "a symbolic link that loops");
    EXPECT_EQ(errors["/in/fifo.bin"], "not a regular file");
    EXPECT_EQ(errors["/in/zero.bin"], "not a regular file");
    std::string tail = name.substr(name.size() - 60);
    ASSERT_EQ(errors.count(tail), 1u) << "the dump too deep for the path limit is no row";
    EXPECT_EQ(errors[tail], "File name too long");
    EXPECT_EQ(report.size(), 6u);
  }
}

TEST_F(HostileInput, OneInputOneOutputWhateverTheJobs) {
  // Texts that are not UTF-8, C1 controls that a terminal obeys, a kit
  // folder whose name is not UTF-8, and CSV cells a spreadsheet would run.
  std::string kit = dir_ + "/kit-\xE9t\xE9";
  Write("kit-\xE9t\xE9/UpdateConfig.ini", "ProductName=Model7 Tower\r\nVersion=1.27\r\n");
  Write("in/a-latin1.bin", MachineDump("Model7 Tower", "1.26 caf\xE9"));
  Write("in/b-csi.bin", MachineDump("Model7 Tower", "\xC2\x9B" "31mred\xC2\x9D" "0;title\x07"));
  Write("in/c-formula.bin", MachineDump("Model7 Tower", "=HYPERLINK(\"http://x\",\"1\")"));
  Write("in/d-dash.bin", MachineDump("Model7 Tower", "-[A3E148AUS-1.07]-"));
  Write("in/e-dash-call.bin", MachineDump("Model7 Tower", "-1+cmd|' /C calc'!A0"));
  const std::string long_version = "1." + std::string(63 * 1024, '9');
  Write("in/f-long.bin", MachineDump("Model7 Tower", long_version));
  for (const char *format : {"table", "csv", "json", "html"}) {
    SCOPED_TRACE(format);
    ToolRun one = Tool(BUS_FLEET_PATH, {"--kit", kit, "--jobs", "1", "--format", format, "{}/in"});
    ToolRun two = Tool(BUS_FLEET_PATH, {"--kit", kit, "--jobs", "3", "--format", format, "{}/in"});
    EXPECT_EQ(one.code, 0);
    EXPECT_EQ(two.code, 0);
    EXPECT_EQ(one.out, two.out);
    // The 63 KiB version is shown as the image quotes it: 64 bytes and "...",
    // so no form, the page with its script included, is as long as it.
    EXPECT_LT(one.out.size(), long_version.size());
    EXPECT_NE(one.out.find("1." + std::string(62, '9') + "..."), std::string::npos);
    if (std::string(format) == "table" || std::string(format) == "html") {
      EXPECT_EQ(one.out.find("\xC2\x9B"), std::string::npos) << "a raw CSI reaches the terminal";
      EXPECT_EQ(one.out.find("\xC2\x9D"), std::string::npos) << "a raw OSC reaches the terminal";
    }
    if (std::string(format) == "table") {
      EXPECT_NE(one.out.find("\\x9B31mred\\x9D0;title\\x07"), std::string::npos) << one.out;
      EXPECT_NE(one.out.find("1.26 caf\xEF\xBF\xBD"), std::string::npos);
      // The kit holds its machines, under the name the rows give it.
      EXPECT_NE(one.out.find("Machines without a kit: 0"), std::string::npos);
      EXPECT_NE(one.out.find("/kit-\xEF\xBF\xBDt\xEF\xBF\xBD (ProductName=Model7 Tower, Version=1.27): 7 machines"),
                std::string::npos) << one.out;
    }
    if (std::string(format) == "csv") {
      EXPECT_NE(one.out.find(",\"'=HYPERLINK("), std::string::npos);
      EXPECT_NE(one.out.find(",-[A3E148AUS-1.07]-,"), std::string::npos);
      EXPECT_NE(one.out.find(",'-1+cmd|"), std::string::npos);
    }
  }
}

TEST_F(HostileInput, PreviewToolRefusesInOneLineAndReportsItsOutput) {
  const struct {
    const char *what;
    std::function<void(HostileInput *)> make;
    std::vector<std::string> arguments;
    std::string stdout_to;
    int code;
    std::string line;
  } cases[] = {
      {"standard output on a full device", nullptr, {"--smbios", "{}/in/desktop.bin", "--dir", "{}/kit"},
       ">/dev/full", 2, "standard output: cannot be written: No space left on device"},
      {"standard output closed", nullptr, {"--smbios", "{}/in/desktop.bin", "--dir", "{}/kit"}, ">&-", 2,
       "standard output is closed"},
      {"--help on a full device", nullptr, {"--help"}, ">/dev/full", 2, "standard output: cannot be written"},
      {"--smbios a FIFO",
       [](HostileInput *t) { ASSERT_EQ(mkfifo((t->dir_ + "/in/fifo").c_str(), 0600), 0); },
       {"--smbios", "{}/in/fifo", "--dir", "{}/kit"}, ">/dev/null", 2, "not a regular file"},
      {"--smbios a name with a line end",
       [](HostileInput *t) { t->Write("in/two\nlines.bin", "not SMBIOS data"); },
       {"--smbios", "{}/in/two\nlines.bin", "--dir", "{}/kit"}, ">/dev/null", 2, "two\\x0Alines.bin"},
      {"--dir a name with a line end", nullptr, {"--smbios", "{}/in/desktop.bin", "--dir", "{}/no\nsuch"},
       ">/dev/null", 2, "no\\x0Asuch"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    SetUp();
    if (c.make) c.make(this);
    std::map<std::string, std::string> before = Snapshot(dir_);
    ToolRun run = Tool(BUS_PREVIEW_PATH, c.arguments, c.stdout_to);
    EXPECT_EQ(run.code, c.code);
    ExpectOneLine(run, PREVIEW, c.line);
    EXPECT_EQ(Snapshot(dir_), before);
  }
}

TEST_F(HostileInput, PreviewOfAKitWhoseConfigurationCannotBeReadSaysSo) {
  // As the image on a medium with a damaged file: the read error, not an
  // empty file whose Version= is missing.
  const struct {
    const char *what;
    std::function<void(const std::string &)> make;
  } cases[] = {
      {"a read error", [](const std::string &path) { fs::create_symlink("/proc/self/mem", path); }},
      {"a FIFO", [](const std::string &path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
      {"a link to nothing", [](const std::string &path) { fs::create_symlink(path + ".gone", path); }},
      {"a link to a device", [](const std::string &path) { fs::create_symlink("/dev/zero", path); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string kit = dir_ + "/bad-kit";
    fs::remove_all(kit);
    fs::create_directories(kit);
    c.make(kit + "/UpdateConfig.ini");
    ToolRun run = Tool(BUS_PREVIEW_PATH, {"--smbios", dump_, "--dir", kit});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("console: ERROR: UpdateConfig.ini could not be read.\\r\\n\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("execute: "), std::string::npos);
  }
}

}  // namespace
