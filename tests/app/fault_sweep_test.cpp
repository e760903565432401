// Every firmware call of a whole run made to fail, one run per call: for a
// run of the real entry point on the simulated firmware, the calls of each
// kind are first counted on a run without faults; then, for every kind and
// every call number up to that count, the run is repeated with exactly that
// call failing. Each run happens in a child process, so a crash or a hang is
// seen and reported as such, and the sweep goes on.
//
// What every faulted run must hold to:
// - it ends (no crash, no hang) and the injected fault did fire;
// - no pool block and no file handle is left behind;
// - a script runs only when it is the one the run without faults chose: a
//   failure may stop the decision, never change it;
// - when no script ran although the run without faults ran one, or the run
//   without faults could not decide either, the status is not EFI_SUCCESS,
//   so the shell's caller sees that nothing was done.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/main.h"
#include "platform/entry.h"
#include "sim/firmware.h"
#include "support/smbios_table_builder.h"

namespace {

using testsupport::SmbiosTableBuilder;
using Scripts = std::vector<std::u16string>;

constexpr size_t CALL_KINDS = static_cast<size_t>(sim::Call::COUNT);
// A run takes milliseconds; a child still busy after this long is hung.
constexpr int HANG_MILLISECONDS = 30000;

// Installed version 15 against configured 20: the old-BIOS script. A fault
// that lost the configured value, or cut it to "2", would read a number
// below 15 and pick the other script, so the sweep sees a wrong decision,
// not only a missing one.
const char INSTALLED_VERSION[] = "15";
const char KEYS[] = "ProductName=Board\r\nVersion=20\r\n";

// The keys behind comment lines, with "Version=" starting at byte
// `version_at`: the search then reads the file in several pieces, and a
// read or seek that fails can land anywhere in the value.
std::string PaddedConfig(size_t version_at) {
  const std::string product = "ProductName=Board\r\n";
  std::string text;
  while (text.size() + product.size() < version_at) text += "; update kit, do not edit\r\n";
  text.resize(version_at - product.size() - 2, ' ');
  return text + "\r\n" + product + "Version=20\r\n";
}

struct Scenario {
  std::string name;
  sim::ShellKind shell;
  bool with_table;
  bool with_config;
  size_t version_at;  // 0: the keys alone
  // The image's options; the 3.x entry point is published beside the 2.x
  // one when they hold -smbios3.
  std::vector<std::u16string> options = {};
};
void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }

struct Outcome {
  EFI_STATUS status = 0;
  Scripts executed;
  std::string leaks;   // sim::LeakReport
  std::string errors;  // firmware misuse only
  uint64_t live_blocks = 0;
  uint64_t open_files = 0;
  uint64_t faults_fired = 0;
  std::array<uint64_t, CALL_KINDS> counts{};
};

std::vector<uint8_t> GoodTable() {
  SmbiosTableBuilder b;
  b.Add(1, 0x10, {"Maker", "Board"}, 8).AddBios(0x11, INSTALLED_VERSION).Add(4, 0x12, {"CPU"});
  // Product Name and BIOS Version name their strings, for -product and -segments.
  b.SetField(0, 5, 2).SetField(1, 5, 2);
  return b.Bytes();
}

Outcome RunOnce(const Scenario &scenario, sim::Call call, unsigned nth) {
  sim::Options options;
  options.shell = scenario.shell;
  options.args.insert(options.args.end(), scenario.options.begin(), scenario.options.end());
  sim::Firmware fw(options);
  if (scenario.with_table) fw.PublishSmbios2(GoodTable(), 3);
  bool smbios3 = false;
  for (const std::u16string &option : scenario.options) smbios3 |= option == u"-smbios3";
  if (scenario.with_table && smbios3) fw.PublishSmbios3(GoodTable());
  if (scenario.with_config) {
    fw.AddFile("UpdateConfig.ini", scenario.version_at == 0 ? KEYS : PaddedConfig(scenario.version_at));
  }
  fw.ResetCounts();
  if (nth != 0) fw.FailNth(call, nth);

  Outcome out;
  out.status = ShellAppEntry(fw.ImageHandle(), fw.SystemTable(), app::main);
  out.executed = fw.Executed();
  out.leaks = sim::LeakReport(fw);
  for (const std::string &error : fw.Errors()) out.errors += error + "\n";
  out.live_blocks = fw.LiveBlocks();
  out.open_files = fw.OpenFileHandles();
  out.faults_fired = fw.FaultsInjected();
  for (size_t kind = 0; kind < CALL_KINDS; ++kind) {
    out.counts[kind] = fw.Count(static_cast<sim::Call>(kind));
  }
  return out;
}

// ---- The outcome through a pipe, from the child to the test ----

void PutNumber(std::string *wire, uint64_t value) {
  wire->append(reinterpret_cast<const char *>(&value), sizeof(value));
}
void PutText(std::string *wire, const std::string &text) {
  PutNumber(wire, text.size());
  wire->append(text);
}

std::string Encode(const Outcome &out) {
  std::string wire;
  PutNumber(&wire, out.status);
  PutNumber(&wire, out.executed.size());
  for (const std::u16string &line : out.executed) {
    PutText(&wire, std::string(reinterpret_cast<const char *>(line.data()), line.size() * 2));
  }
  PutText(&wire, out.leaks);
  PutText(&wire, out.errors);
  PutNumber(&wire, out.live_blocks);
  PutNumber(&wire, out.open_files);
  PutNumber(&wire, out.faults_fired);
  for (uint64_t count : out.counts) PutNumber(&wire, count);
  return wire;
}

struct Reader {
  const std::string &wire;
  size_t at = 0;
  bool ok = true;
  uint64_t Number() {
    uint64_t value = 0;
    if (at + sizeof(value) > wire.size()) {
      ok = false;
      return 0;
    }
    std::memcpy(&value, wire.data() + at, sizeof(value));
    at += sizeof(value);
    return value;
  }
  std::string Text() {
    uint64_t size = Number();
    if (!ok || size > wire.size() - at) {
      ok = false;
      return "";
    }
    std::string text = wire.substr(at, size);
    at += size;
    return text;
  }
};

bool Decode(const std::string &wire, Outcome *out) {
  Reader in{wire};
  out->status = in.Number();
  uint64_t lines = in.Number();
  for (uint64_t i = 0; in.ok && i < lines; ++i) {
    std::string bytes = in.Text();
    out->executed.emplace_back(reinterpret_cast<const char16_t *>(bytes.data()), bytes.size() / 2);
  }
  out->leaks = in.Text();
  out->errors = in.Text();
  out->live_blocks = in.Number();
  out->open_files = in.Number();
  out->faults_fired = in.Number();
  for (uint64_t &count : out->counts) count = in.Number();
  return in.ok && in.at == wire.size();
}

// Runs the scenario in a child process. False, with the reason, when the
// child crashed, hung or ended without handing back its outcome.
bool RunIsolated(const Scenario &scenario, sim::Call call, unsigned nth, Outcome *out,
                 std::string *failure) {
  int fds[2];
  if (pipe(fds) != 0) {
    *failure = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  std::cout.flush();
  std::cerr.flush();
  pid_t child = fork();
  if (child < 0) {
    *failure = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (child == 0) {
    close(fds[0]);
    std::string wire = Encode(RunOnce(scenario, call, nth));
    for (size_t done = 0; done < wire.size();) {
      ssize_t n = write(fds[1], wire.data() + done, wire.size() - done);
      if (n <= 0) _exit(3);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);

  std::string wire;
  bool hung = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(HANG_MILLISECONDS);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      hung = true;
      break;
    }
    pollfd watch = {fds[0], POLLIN, 0};
    int ready = poll(&watch, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char chunk[4096];
    ssize_t n = read(fds[0], chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child closed its end
    wire.append(chunk, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (hung) kill(child, SIGKILL);
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }

  if (hung) {
    *failure = "hung (no end after " + std::to_string(HANG_MILLISECONDS / 1000) + " s)";
    return false;
  }
  if (WIFSIGNALED(wait_status)) {
    *failure = "crashed with signal " + std::to_string(WTERMSIG(wait_status));
    return false;
  }
  if (!WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0) {
    *failure = "ended with exit code " + std::to_string(WEXITSTATUS(wait_status)) +
               " (a sanitizer report, if any, is above)";
    return false;
  }
  if (!Decode(wire, out)) {
    *failure = "handed back a garbled outcome";
    return false;
  }
  return true;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// What a faulted run did wrong, one line each; empty when nothing.
std::string Problems(sim::Call call, const Outcome &baseline, const Outcome &out) {
  std::string problems;
  if (out.faults_fired != 1) problems += "the fault did not fire exactly once\n";

  if (call == sim::Call::FreePool) {
    // A release the firmware refuses keeps that one block; nothing the
    // application does can give it back.
    if (out.live_blocks > 1 || out.open_files != 0 || !out.errors.empty()) problems += out.leaks;
  } else {
    problems += out.leaks;
  }

  if (!out.executed.empty() && out.executed != baseline.executed) {
    problems += "ran a script the run without faults did not choose\n";
  }

  // Execute failing comes after the decision was made: the script was
  // chosen and handed to the shell, and the run does not examine what the
  // shell reports for it, so a run that ends with EFI_SUCCESS and no
  // recorded script is what the product is meant to do there.
  const bool execute_failed = call == sim::Call::ShellExecute || call == sim::Call::LegacyExecute;
  const bool undecided = out.executed.empty() && !(execute_failed && !baseline.executed.empty());
  if (undecided && out.status == EFI_SUCCESS) {
    problems += "no script ran, yet the status is EFI_SUCCESS\n";
  }
  return problems;
}

class WholeRunFaultSweep : public ::testing::TestWithParam<Scenario> {};

TEST_P(WholeRunFaultSweep, EveryFirmwareCallFailingLeavesNoLeakAndNoWrongScript) {
  const Scenario &scenario = GetParam();
  Outcome baseline;
  std::string failure;
  ASSERT_TRUE(RunIsolated(scenario, sim::Call::AllocatePool, 0, &baseline, &failure)) << failure;
  ASSERT_EQ(baseline.leaks, "");
  if (scenario.with_table && scenario.with_config && scenario.shell != sim::ShellKind::None) {
    // The sweep is only as sharp as the decision it guards.
    ASSERT_EQ(baseline.executed, Scripts{u"UpdateHWOld.nsh"});
    ASSERT_EQ(baseline.status, EFI_SUCCESS);
  } else {
    ASSERT_EQ(baseline.executed, Scripts{});
    ASSERT_NE(baseline.status, EFI_SUCCESS);
  }

  unsigned injected = 0;
  for (size_t kind = 0; kind < CALL_KINDS; ++kind) {
    const sim::Call call = static_cast<sim::Call>(kind);
    for (unsigned nth = 1; nth <= baseline.counts[kind]; ++nth) {
      SCOPED_TRACE(std::string(sim::CallName(call)) + " call " + std::to_string(nth) + " of " +
                   std::to_string(baseline.counts[kind]) + " failing");
      Outcome out;
      if (!RunIsolated(scenario, call, nth, &out, &failure)) {
        ADD_FAILURE() << failure;
        continue;
      }
      ++injected;
      std::string problems = Problems(call, baseline, out);
      EXPECT_EQ(problems, "") << "status " << Hex(out.status) << ", " << out.executed.size()
                              << " script(s) run";
    }
  }
  std::cout << "[" << scenario.name << "] fault sweep injected " << injected << " faults:";
  for (size_t kind = 0; kind < CALL_KINDS; ++kind) {
    if (baseline.counts[kind] != 0) {
      std::cout << " " << sim::CallName(static_cast<sim::Call>(kind)) << " " << baseline.counts[kind];
    }
  }
  std::cout << "\n";
  RecordProperty("faults_injected", static_cast<int>(injected));
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> list = {
      {"Uefi2Shell", sim::ShellKind::Uefi2, true, true, 0},
      {"LegacyShell", sim::ShellKind::Legacy, true, true, 0},
      {"NoShell", sim::ShellKind::None, true, true, 0},
      // Runs that end with a message: the console's own failures are swept too.
      {"Uefi2ShellWithoutConfig", sim::ShellKind::Uefi2, true, false, 0},
      {"LegacyShellWithoutTable", sim::ShellKind::Legacy, false, true, 0},
      {"Uefi2ShellVersionAt9000", sim::ShellKind::Uefi2, true, true, 9000},
      {"LegacyShellVersionAt9000", sim::ShellKind::Legacy, true, true, 9000},
      // Every option at once: the whole values, the product walk, the 3.x
      // table and the verbose lines are swept as well.
      {"Uefi2ShellAllOptions", sim::ShellKind::Uefi2, true, true, 0,
       {u"-v", u"-segments", u"-product", u"-smbios3"}},
      {"LegacyShellAllOptionsVersionAt4100", sim::ShellKind::Legacy, true, true, 4100,
       {u"-v", u"-segments", u"-product", u"-smbios3"}},
  };
  // The value across the end of a 4 KiB read, and of a 4 KiB read behind
  // 64 bytes kept back: every byte of "Version=20\r\n" at the cut once.
  for (size_t cut : {size_t{4096}, size_t{4160}}) {
    for (size_t at = cut - 12; at <= cut; ++at) {
      list.push_back({"Uefi2ShellVersionAt" + std::to_string(at), sim::ShellKind::Uefi2, true, true, at});
      list.push_back({"LegacyShellVersionAt" + std::to_string(at), sim::ShellKind::Legacy, true, true, at});
    }
  }
  return list;
}

INSTANTIATE_TEST_SUITE_P(Runs, WholeRunFaultSweep, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) {
                           return info.param.name;
                         });

}  // namespace
