// The fixed parts of the fleet report's page: its style sheet
// (report_page.css) and its script (report_page.js), each embedded whole by
// the build and copied in whole by the page writer. Neither holds any data;
// the script reads the page's JSON and draws from it.
#pragma once

namespace fleet {

extern const char PAGE_STYLE[];
extern const char PAGE_SCRIPT[];

}  // namespace fleet
