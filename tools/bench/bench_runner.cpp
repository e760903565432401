// bench_runner: the host half of tools/benchmark. It writes the benchmark's
// inputs, and it runs the application once on the simulated firmware,
// through the same ShellAppEntry frame as the image, printing what the
// benchmark reads off: the events, the status, the firmware calls by kind
// and the pool figures.
//
//   bench_runner write-inputs DIR
//   bench_runner run --smbios FILE [--config FILE] [--walk one-pass|fetch-by-handle]
//   bench_runner hash FILE
//
// --walk fetch-by-handle runs the application with the structure walk that
// fetches handle after handle from the table start (the quadratic one), so
// the benchmark can measure the one-pass walk against it and check that
// both runs do the same observable things. Without --config there is no
// UpdateConfig.ini. The whole run happens inside BenchMeasuredRun and the
// walk inside WalkSmbiosTable or BenchFetchByHandleWalk, the names the
// benchmark reads the instruction counts of. `hash` hashes FILE with the
// image's SHA-256 in the pieces -verify reads (the file read into memory
// first, so only the hashing is timed) and prints the digest and seconds.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/file_names.h"
#include "app/kit_verify.h"
#include "app/main.h"
#include "app/sha256.h"
#include "platform/entry.h"
#include "platform/globals.h"
#include "sim/firmware.h"
#include "sim/preview.h"
#include "sim/run.h"
#include "smbios/entry_point.h"
#include "tests/support/fetch_by_handle_walk.h"
#include "tools/bench/bench_inputs.h"

// Kept out of line under plain names, so the instruction counter can tell
// the whole run and the walk alone apart from everything around them.
extern "C" __attribute__((noinline)) unsigned BenchFetchByHandleWalk(uint16_t DeclaredCount,
                                                                     SmbiosVisitor Visit,
                                                                     void *Context) {
  return testsupport::FetchByHandleWalk(DeclaredCount, Visit, Context);
}

extern "C" __attribute__((noinline)) EFI_STATUS BenchMeasuredRun(sim::Firmware *Firmware,
                                                                 ApplicationMain Main) {
  return ShellAppEntry(Firmware->ImageHandle(), Firmware->SystemTable(), Main);
}

namespace {

// The application's own run with the fetch-by-handle walk in place of the
// one-pass one.
int FetchByHandleMain(int, char **) {
  const RunOptions plain = {};
  return app::RunUpdateSelection(BenchFetchByHandleWalk, &plain);
}

bool ReadFile(const std::string &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string &path, const void *bytes, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char *>(bytes), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

int Usage() {
  std::cerr << "usage: bench_runner write-inputs DIR\n"
               "       bench_runner run --smbios FILE [--config FILE]"
               " [--walk one-pass|fetch-by-handle]\n";
  return 2;
}

int WriteInputs(const std::string &dir) {
  for (const bench::GeneratedTable &table : bench::BenchmarkTables()) {
    std::vector<uint8_t> dump = bench::DumpBin(table);
    if (!WriteFile(dir + "/" + table.name, dump.data(), dump.size())) {
      std::cerr << "bench_runner: cannot write " << dir << "/" << table.name << "\n";
      return 2;
    }
    std::cout << table.name << " structures=" << table.count
              << " table-bytes=" << table.table.size() << "\n";
  }
  for (const bench::GeneratedConfig &config : bench::BenchmarkConfigs()) {
    if (!WriteFile(dir + "/" + config.name, config.text.data(), config.text.size())) {
      std::cerr << "bench_runner: cannot write " << dir << "/" << config.name << "\n";
      return 2;
    }
    std::cout << config.name << " bytes=" << config.text.size() << "\n";
  }
  return 0;
}

}  // namespace

int HashFile(const std::string &path) {
  std::string bytes;
  if (!ReadFile(path, &bytes)) {
    std::cerr << "bench_runner: cannot read " << path << "\n";
    return 2;
  }
  auto started = std::chrono::steady_clock::now();
  Sha256 hash;
  Sha256Begin(&hash);
  for (size_t at = 0; at < bytes.size(); at += KIT_READ_CHUNK) {
    Sha256Add(&hash, bytes.data() + at, std::min(KIT_READ_CHUNK, bytes.size() - at));
  }
  char hex[SHA256_HEX_SIZE];
  Sha256End(&hash, hex);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  std::cout << "sha256: " << hex << "\nseconds: " << seconds.count() << "\n";
  return 0;
}

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "hash") return HashFile(args[1]);
  if (args.size() == 2 && args[0] == "write-inputs") return WriteInputs(args[1]);
  if (args.empty() || args[0] != "run") return Usage();

  std::string smbios_path, config_path, walk = "one-pass";
  for (size_t i = 1; i < args.size(); ++i) {
    if (i + 1 >= args.size()) return Usage();
    if (args[i] == "--smbios") {
      smbios_path = args[++i];
    } else if (args[i] == "--config") {
      config_path = args[++i];
    } else if (args[i] == "--walk") {
      walk = args[++i];
    } else {
      return Usage();
    }
  }
  if (smbios_path.empty() || (walk != "one-pass" && walk != "fetch-by-handle")) return Usage();

  std::string dump, config, error;
  if (!ReadFile(smbios_path, &dump)) {
    std::cerr << "bench_runner: cannot read " << smbios_path << "\n";
    return 2;
  }
  if (!config_path.empty() && !ReadFile(config_path, &config)) {
    std::cerr << "bench_runner: cannot read " << config_path << "\n";
    return 2;
  }

  sim::ImageRun run;
  std::vector<uint8_t> dump_bytes(dump.begin(), dump.end());
  run.smbios = &dump_bytes;
  if (!config_path.empty()) run.files.emplace_back(UPDATE_CONFIG_NAME, config);
  run.main = walk == "one-pass" ? app::main : FetchByHandleMain;
  run.enter = BenchMeasuredRun;
  std::vector<unsigned> counts;
  size_t peak = 0, allocations = 0;
  std::string leaks;
  run.after = [&](sim::Firmware &firmware) {
    for (unsigned kind = 0; kind < static_cast<unsigned>(sim::Call::COUNT); ++kind) {
      counts.push_back(firmware.Count(static_cast<sim::Call>(kind)));
    }
    peak = firmware.PeakBytes();
    allocations = firmware.TotalAllocations();
    leaks = sim::LeakReport(firmware);
  };
  sim::ImageRunResult result;
  if (!sim::RunImage(run, &result, &error)) {
    std::cerr << "bench_runner: " << smbios_path << ": " << error << "\n";
    return 2;
  }

  std::cout << "walk: " << walk << "\n";
  for (const sim::Event &event : result.events) std::cout << sim::FormatEvent(event) << "\n";
  std::cout << sim::FormatStatus(result.status) << "\n";
  for (unsigned kind = 0; kind < counts.size(); ++kind) {
    std::cout << "calls: " << sim::CallName(static_cast<sim::Call>(kind)) << " " << counts[kind]
              << "\n";
  }
  std::cout << "pool-peak-bytes: " << peak << "\n";
  std::cout << "pool-allocations: " << allocations << "\n";
  for (char &c : leaks) {
    if (c == '\n') c = ';';
  }
  std::cout << "leaks: " << (leaks.empty() ? "none" : leaks) << "\n";
  return 0;
}
