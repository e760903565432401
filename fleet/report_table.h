// The table form: aligned columns, one line per input, then a summary of
// machines per kit, outcome, message and warning (and with records, the
// rollout per kit and the records that matched no machine). Memory stays
// flat with the number of rows: it keeps the first TABLE_SAMPLE_ROWS rows
// to size its columns (later rows that are wider overflow their column)
// and counts for the summary.
#pragma once

#include <cstddef>

#include "fleet/report_form.h"

namespace fleet {

constexpr size_t TABLE_SAMPLE_ROWS = 1000;

extern const ReportForm TABLE_FORM;

}  // namespace fleet
