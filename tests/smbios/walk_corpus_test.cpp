// The one-pass walk against the fetch-by-handle walk on every table the
// project keeps: the SMBIOS dumps under tests/data/dumps, the benchmark's
// generated tables (up to the largest a 2.x entry point can describe), and
// the fuzz inputs under tests/fuzz. Both walks must visit the same
// structures in the same order, with the declared count, with no count
// limit, and with the table cut short in the middle of a structure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/firmware.h"
#include "smbios/entry_point.h"
#include "smbios/structure_walk.h"
#include "support/fetch_by_handle_walk.h"
#include "tools/bench/bench_inputs.h"

namespace {

namespace fs = std::filesystem;
using Visits = std::vector<const uint8_t *>;

constexpr size_t FUZZ_TABLE_OFFSET = 32;  // the fuzz inputs' layout of a dump image

void Record(SmbiosStructurePointer s, void *context) {
  static_cast<Visits *>(context)->push_back(s.Raw);
}

std::vector<uint8_t> ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> FilesUnder(const fs::path &dir, const std::string &extension) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto &entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    if (!extension.empty() && entry.path().extension() != extension) continue;
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Both walks over the table the firmware publishes, found the way the run
// finds it. Returns the number of structures the full walk visited.
size_t ExpectSameVisits(sim::Firmware *fw) {
  fw->InstallGlobals();
  if (!FindSmbiosEntryPoint()) {
    ADD_FAILURE() << "no 2.x entry point published";
    return 0;
  }
  gSmbiosTableStart.Raw =
      reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(gSmbiosEntryPoint->TableAddress));
  const uint16_t declared = gSmbiosEntryPoint->NumberOfSmbiosStructures;
  const uint16_t full_length = gSmbiosEntryPoint->TableLength;

  size_t visited_in_full = 0;
  // The table ends where the published one does, and in the middle of it:
  // a structure cut there is damaged and must end both walks alike.
  for (uint16_t length : {full_length, static_cast<uint16_t>(full_length / 2)}) {
    gSmbiosEntryPoint->TableLength = length;
    for (uint16_t count : {declared, uint16_t{0xFFFF}}) {
      SCOPED_TRACE("table length " + std::to_string(length) + ", count " + std::to_string(count));
      Visits one_pass, reference;
      unsigned one_pass_count = WalkSmbiosTable(count, Record, &one_pass);
      unsigned reference_count = testsupport::FetchByHandleWalk(count, Record, &reference);
      EXPECT_EQ(one_pass_count, one_pass.size());
      EXPECT_EQ(reference_count, reference.size());
      EXPECT_EQ(one_pass, reference);
      if (length == full_length && count == declared) visited_in_full = one_pass.size();
    }
  }
  gSmbiosEntryPoint->TableLength = full_length;
  return visited_in_full;
}

TEST(WalkCorpus, GeneratedBenchmarkTablesAreWalkedWholeBothWays) {
  std::vector<bench::GeneratedTable> tables = bench::BenchmarkTables();
  ASSERT_EQ(tables.size(), 3u);
  // The shapes the benchmark's figures are quoted for.
  EXPECT_EQ(tables[0].count, 9);
  EXPECT_EQ(tables[1].count, 300);
  EXPECT_EQ(tables[1].table.size(), 20480u);
  EXPECT_EQ(tables[2].table.size(), 65535u);
  EXPECT_GT(tables[2].count, 10900);

  for (const bench::GeneratedTable &table : tables) {
    SCOPED_TRACE(table.name);
    sim::Firmware fw;
    std::string error;
    ASSERT_TRUE(fw.PublishSmbiosDump(bench::DumpBin(table), &error)) << error;
    // Unique handles and a whole table: every structure is visited.
    EXPECT_EQ(ExpectSameVisits(&fw), table.count);
  }
}

// Every dump publishes; some are damaged so that nothing can be visited,
// but not all of them. A 3.x dump's table is walked under a 2.x entry
// point, cut to the 65535 bytes such an entry point can describe.
TEST(WalkCorpus, SmbiosDumpsAreWalkedAlikeBothWays) {
  std::vector<fs::path> dumps = FilesUnder(fs::path(BUS_SOURCE_DIR) / "tests/data/dumps", ".bin");
  if (dumps.empty()) GTEST_SKIP() << "no dumps under tests/data/dumps";
  size_t visited = 0;
  for (const fs::path &path : dumps) {
    SCOPED_TRACE(path.filename().string());
    std::vector<uint8_t> dump = ReadBytes(path);
    sim::Firmware fw;
    if (dump.size() >= sizeof(Smbios3EntryPoint) && std::memcmp(dump.data(), "_SM3_", 5) == 0) {
      Smbios3EntryPoint entry;
      std::memcpy(&entry, dump.data(), sizeof(entry));
      ASSERT_LE(entry.TableAddress, dump.size());
      size_t length = std::min<uint64_t>({entry.TableMaximumSize, dump.size() - entry.TableAddress,
                                          uint64_t{0xFFFF}});
      auto start = dump.begin() + static_cast<ptrdiff_t>(entry.TableAddress);
      fw.PublishSmbios2(std::vector<uint8_t>(start, start + static_cast<ptrdiff_t>(length)),
                        0xFFFF);
    } else {
      std::string error;
      ASSERT_TRUE(fw.PublishSmbiosDump(dump, &error)) << error;
    }
    visited += ExpectSameVisits(&fw);
  }
  EXPECT_GT(visited, 0u);
}

// Fuzz inputs, laid out as the SMBIOS fuzz target lays them out: the entry
// point's first 31 bytes at offset 0 give the table length and the declared
// count, and the table is the bytes from offset 32 on, zero-filled to that
// length. Inputs of the other fuzz targets are just more arbitrary tables.
TEST(WalkCorpus, FuzzInputsAreWalkedAlikeBothWays) {
  std::vector<fs::path> inputs = FilesUnder(fs::path(BUS_SOURCE_DIR) / "tests/fuzz/corpus", "");
  std::vector<fs::path> regressions =
      FilesUnder(fs::path(BUS_SOURCE_DIR) / "tests/fuzz/regressions", "");
  inputs.insert(inputs.end(), regressions.begin(), regressions.end());
  if (inputs.empty()) GTEST_SKIP() << "no fuzz inputs under tests/fuzz";
  for (const fs::path &path : inputs) {
    SCOPED_TRACE(path.string());
    std::vector<uint8_t> input = ReadBytes(path);
    SmbiosEntryPoint entry;
    std::memset(&entry, 0, sizeof(entry));
    if (!input.empty()) std::memcpy(&entry, input.data(), std::min(input.size(), sizeof(entry)));
    std::vector<uint8_t> table(entry.TableLength, 0);
    if (input.size() > FUZZ_TABLE_OFFSET) {
      size_t available = std::min(input.size() - FUZZ_TABLE_OFFSET, table.size());
      if (available > 0) std::memcpy(table.data(), input.data() + FUZZ_TABLE_OFFSET, available);
    }
    sim::Firmware fw;
    fw.PublishSmbios2(table, entry.NumberOfSmbiosStructures);
    ExpectSameVisits(&fw);
  }
}

}  // namespace
