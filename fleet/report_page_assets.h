// The fixed parts of the fleet report's page: its skeleton
// (report_page.html), style sheet (report_page.css) and script (the
// report_page_*.js parts, joined by the build into one function), each
// embedded whole by the build. None holds any data: the page writer fills
// the skeleton's places with the style sheet, the page's JSON and the
// script, and the script draws from the JSON.
#pragma once

namespace fleet {

extern const char PAGE_SKELETON[];
extern const char PAGE_STYLE[];
extern const char PAGE_SCRIPT[];

}  // namespace fleet
