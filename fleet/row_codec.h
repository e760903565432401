// The row codec: a row as the json form writes it, and as worker processes
// hand it over. Both carry the same object, so a row reads the same
// whichever process made it and however the report is written. Of the
// machine's facts they carry what the forms show (the System Information
// texts, the first BIOS Information structure's strings, the hardware-ID
// fields and IDs); the walk's details stay with the process that read them.
#pragma once

#include <string>

#include "fleet/fleet_row.h"

namespace fleet {

// One row as the json form writes it, on one line. Strings that are not
// UTF-8 have their bad bytes replaced.
std::string RowToJson(const FleetRow &row);
// Reads back what RowToJson wrote; false when the text is not such a row.
bool RowFromJson(const std::string &text, FleetRow *row);

// Rows as worker processes hand them over: the json form's content in a
// binary encoding that keeps every byte of every text.
std::string RowToTransport(const FleetRow &row);
bool RowFromTransport(const std::string &bytes, FleetRow *row);

}  // namespace fleet
