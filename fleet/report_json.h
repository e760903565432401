// The json form: an array, one object per input, in input order, each on a
// line of its own as the row codec writes it. It keeps nothing.
#pragma once

#include "fleet/report_form.h"

namespace fleet {

extern const ReportForm JSON_FORM;

}  // namespace fleet
