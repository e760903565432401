// The fixed parts of the fleet report's page: its style sheet and its
// script, texts that the page writer copies in whole. None holds any data;
// the script reads the page's JSON and draws from it. The script comes in
// two parts, written one after the other into one <script> element.
#pragma once

namespace fleet {

extern const char PAGE_STYLE[];
extern const char PAGE_SCRIPT_TABLE[];
extern const char PAGE_SCRIPT_SUMMARY[];

}  // namespace fleet
