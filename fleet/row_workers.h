// Making the rows of many inputs, in worker processes when asked for more
// than one job. The simulated firmware is one per process (its services
// find it through a program-wide reference, as the image finds the real
// one), so parallel runs need processes, not threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "fleet/fleet_row.h"
#include "sim/smbios_input.h"

namespace fleet {

// Rows that a process keeps in flight: memory stays flat however many
// inputs the search hands out.
constexpr unsigned ROWS_IN_FLIGHT_PER_JOB = 8;

// How long a worker may take over one row before it is taken for hung.
// A row takes milliseconds; the bound only keeps one bad input from
// holding up a fleet's report for good.
constexpr std::chrono::milliseconds ROW_TIME_LIMIT = std::chrono::seconds(60);

// A frame longer than this is no row a worker makes: the worker is damaged.
constexpr uint32_t ROW_FRAME_LIMIT = 64u << 20;

// Makes one row per input the search hands out and passes each to `sink`
// in input order, as soon as it and every row before it are made; a sink
// that returns false (its output has gone) ends the work early. With
// `jobs` above 1 the rows are made by that many forked worker processes; a
// worker that dies, sends a damaged row or spends more than `row_limit` on
// one row makes that row an error row (it is never made again), and a
// fresh worker takes over the rest of its inputs.
void MakeRows(sim::SmbiosInputSearch *search, const FleetSettings &settings, unsigned jobs,
              const std::function<bool(const FleetRow &row)> &sink,
              std::chrono::milliseconds row_limit = ROW_TIME_LIMIT);

// Tests only: called in a worker before it makes the row of `path`, with
// the descriptor its rows go out on, so a test can make a worker crash,
// hang or write half a row; true when it answered the row itself. Null in
// every real run.
extern bool (*gRowWorkerFault)(const std::string &path, int rows_fd);

}  // namespace fleet
