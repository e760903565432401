// Making the rows of many inputs, in worker processes when asked for more
// than one job. The simulated firmware is one per process (its services
// find it through a program-wide reference, as the image finds the real
// one), so parallel runs need processes, not threads.
#pragma once

#include <functional>

#include "fleet/fleet_row.h"
#include "sim/smbios_input.h"

namespace fleet {

// Rows that a process keeps in flight: memory stays flat however many
// inputs the search hands out.
constexpr unsigned ROWS_IN_FLIGHT_PER_JOB = 8;

// Makes one row per input the search hands out and passes each to `sink`
// in input order, as soon as it and every row before it are made; a sink
// that returns false (its output has gone) ends the work early. With
// `jobs` above 1 the rows are made by that many forked worker processes; a
// worker that dies makes the row it was on an error row, and a fresh
// worker takes over the rest of its inputs.
void MakeRows(sim::SmbiosInputSearch *search, const FleetSettings &settings, unsigned jobs,
              const std::function<bool(const FleetRow &row)> &sink);

}  // namespace fleet
