// The fixed parts of the fleet report's page: its style sheet and its
// script, each one text that the page writer copies in whole. Neither holds
// any data; the script reads the page's JSON and draws from it.
#pragma once

namespace fleet {

extern const char PAGE_STYLE[];
extern const char PAGE_SCRIPT[];

}  // namespace fleet
