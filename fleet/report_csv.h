// The csv form: RFC 4180 with a header line, lists joined with "; ", one
// record per input as it arrives; it keeps nothing. Its columns and fields
// are the one account of what the CSV holds, which the page's "save as
// CSV" writes too.
#pragma once

#include <string>
#include <vector>

#include "fleet/report_form.h"

namespace fleet {

extern const ReportForm CSV_FORM;

// One CSV field as the report writes it, before quoting: UTF-8 with its
// control characters as \xHH (as Cell shows them), and a leading ' before
// a text a spreadsheet would take for a formula (one that begins with =,
// +, @, or with - when a call or link follows).
std::string CsvField(const std::string &text);
// One CSV record (no line end) of the given fields.
std::string CsvRecord(const std::vector<std::string> &fields);
// The CSV form's column titles, and a row's fields under them (before
// CsvField).
const std::vector<std::string> &CsvTitles();
std::vector<std::string> CsvFields(const FleetRow &row);

}  // namespace fleet
