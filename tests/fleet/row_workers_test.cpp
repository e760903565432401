// The fleet report's worker processes when a worker goes wrong: it dies in
// the middle of a row, hangs, writes half a row or a damaged one. Each
// input still becomes exactly one row, in input order; the input the worker
// was on becomes an error row saying what happened (it is never made again,
// where it could take the report down), and every other row is the row the
// input makes without workers.
#include "fleet/row_workers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "fleet/fleet_report.h"
#include "fleet/report_kits.h"
#include "fleet/row_codec.h"
#include "sim/smbios_input.h"

namespace {

using std::chrono::milliseconds;

enum class Fault { Crash, Exit, Hang, HalfThenExit, HalfThenHang, DamagedRow, OversizedFrame };

// What the planted fault does and to which input (a name that ends the
// input's path; "*" for every input). Workers are forked from the test, so
// they see these as the test set them.
Fault gFault = Fault::Crash;
std::string gFaultyInput;

const std::string DUMPS = std::string(BUS_SOURCE_DIR) + "/tests/data/dumps/";
const std::vector<std::string> INPUTS = {
    DUMPS + "board-P68.bin",        DUMPS + "desktop-2.8.bin",      DUMPS + "laptop-7LET56WW.bin",
    DUMPS + "laptop-8AET46WW.bin",  DUMPS + "qemu-old-bios.bin",    DUMPS + "server-2.8-large.bin",
    DUMPS + "sysfs-desktop-A05",    DUMPS + "two-bios-information.bin",
};
// Short enough for the hanging cases to be quick, long enough for a row of
// any of these inputs on a busy machine under the sanitizers.
const milliseconds LIMIT(1500);

bool EndsWith(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void WriteBytes(int fd, const std::string &bytes) {
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) _exit(9);
}

[[noreturn]] void HangForGood() {
  for (;;) pause();
}

bool PlantedFault(const std::string &path, int rows_fd) {
  if (gFaultyInput != "*" && !EndsWith(path, gFaultyInput)) return false;
  // A frame head that promises 200 bytes, and 10 of them.
  const std::string half = std::string("\xC8\0\0\0", 4) + "{\"input\":";
  switch (gFault) {
    case Fault::Crash:
      kill(getpid(), SIGKILL);
      HangForGood();
    case Fault::Exit:
      _exit(3);
    case Fault::Hang:
      HangForGood();
    case Fault::HalfThenExit:
      WriteBytes(rows_fd, half);
      _exit(0);
    case Fault::HalfThenHang:
      WriteBytes(rows_fd, half);
      HangForGood();
    case Fault::DamagedRow:
      WriteBytes(rows_fd, std::string("\x09\0\0\0", 4) + "{not json");
      return true;
    case Fault::OversizedFrame:
      WriteBytes(rows_fd, "\xFF\xFF\xFF\xFF{");
      HangForGood();
  }
  return false;
}

fleet::FleetSettings Settings() {
  fleet::FleetSettings settings;
  fleet::KitInfo kit;
  std::string error;
  EXPECT_TRUE(fleet::LoadKit(std::string(BUS_SOURCE_DIR) + "/examples/kit", &kit, &error)) << error;
  settings.kits = {kit};
  return settings;
}

std::vector<fleet::FleetRow> Rows(unsigned jobs, milliseconds limit = LIMIT) {
  sim::SmbiosInputSearch search(INPUTS);
  std::vector<fleet::FleetRow> rows;
  fleet::MakeRows(&search, Settings(), jobs, [&](const fleet::FleetRow &row) {
    rows.push_back(row);
    return true;
  }, limit);
  return rows;
}

class RowWorkersTest : public testing::Test {
 protected:
  void SetUp() override { fleet::gRowWorkerFault = PlantedFault; }
  void TearDown() override { fleet::gRowWorkerFault = nullptr; }
};

TEST_F(RowWorkersTest, AWorkerThatGoesWrongCostsOnlyTheRowItWasOn) {
  struct Case {
    const char *name;
    Fault fault;
    const char *input;
    const char *error;
  } const cases[] = {
      {"dies mid-row", Fault::Crash, "laptop-8AET46WW.bin", "making this row ended with signal 9"},
      {"dies on the first input", Fault::Crash, "board-P68.bin", "making this row ended with signal 9"},
      {"dies on the last input", Fault::Crash, "two-bios-information.bin",
       "making this row ended with signal 9"},
      {"dies on a sysfs folder", Fault::Crash, "sysfs-desktop-A05",
       "making this row ended with signal 9"},
      {"exits mid-row", Fault::Exit, "desktop-2.8.bin", "making this row ended the worker process"},
      {"hangs", Fault::Hang, "qemu-old-bios.bin",
       "making this row took longer than 1500 ms; its worker process was stopped"},
      {"writes half a row and exits", Fault::HalfThenExit, "laptop-7LET56WW.bin",
       "the worker process ended halfway through this row"},
      {"writes half a row and hangs", Fault::HalfThenHang, "server-2.8-large.bin",
       "making this row took longer than 1500 ms; its worker process was stopped"},
      {"writes a damaged row", Fault::DamagedRow, "desktop-2.8.bin", "a worker sent a damaged row"},
      {"announces a row no worker makes", Fault::OversizedFrame, "board-P68.bin",
       "a worker sent a damaged row"},
  };
  fleet::gRowWorkerFault = nullptr;
  std::vector<fleet::FleetRow> clean = Rows(1);
  fleet::gRowWorkerFault = PlantedFault;
  ASSERT_EQ(clean.size(), INPUTS.size());
  for (const fleet::FleetRow &row : clean) ASSERT_EQ(row.error, "") << row.input;

  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    gFault = c.fault;
    gFaultyInput = c.input;
    auto started = std::chrono::steady_clock::now();
    std::vector<fleet::FleetRow> rows = Rows(2);
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(rows.size(), INPUTS.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].input, INPUTS[i]);
      if (EndsWith(INPUTS[i], c.input)) {
        EXPECT_EQ(rows[i].error, c.error);
        EXPECT_TRUE(rows[i].kits.empty());
        EXPECT_TRUE(rows[i].run.scripts.empty());
      } else {
        EXPECT_EQ(fleet::RowToJson(rows[i]), fleet::RowToJson(clean[i])) << INPUTS[i];
      }
    }
    // A hung worker is waited for once, not for good.
    EXPECT_LT(took, 4 * LIMIT);
  }
}

TEST_F(RowWorkersTest, EveryInputKillingItsWorkerStillGivesEveryRowInOrder) {
  gFault = Fault::Crash;
  gFaultyInput = "*";
  for (unsigned jobs : {2u, 3u}) {
    SCOPED_TRACE(jobs);
    std::vector<fleet::FleetRow> rows = Rows(jobs);
    ASSERT_EQ(rows.size(), INPUTS.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].input, INPUTS[i]);
      EXPECT_EQ(rows[i].error, "making this row ended with signal 9");
    }
  }
}

TEST_F(RowWorkersTest, AnOutputThatGoesAwayDoesNotWaitOnAHungWorker) {
  gFault = Fault::Hang;
  gFaultyInput = "desktop-2.8.bin";
  sim::SmbiosInputSearch search(INPUTS);
  size_t taken = 0;
  auto started = std::chrono::steady_clock::now();
  // A limit no test waits out: only ending the hung worker lets this return.
  fleet::MakeRows(&search, Settings(), 2, [&](const fleet::FleetRow &) {
    ++taken;
    return false;
  }, std::chrono::minutes(10));
  EXPECT_EQ(taken, 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
