// The fleet report page's style sheet: plain system fonts, the outcome
// colours the bars and the legend share, and a table that stays readable
// at 10,000 rows (the script draws a window of them, not all).
#include "fleet/report_page_assets.h"

namespace fleet {

const char PAGE_STYLE[] = R"css(
:root {
  --old: #d9822b; --new: #2f74c0; --none: #c0392b; --other: #8e44ad;
  --nokit: #7f8c8d; --at-target: #27ae60; --still-below: #c0392b; --refused: #d4ac0d;
  --not-visited: #95a5a6; --several: #16a085; --error: #34495e; --line: #d5d8dc; --soft: #f4f6f7; --ink: #1c2833;
}
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.4 system-ui, -apple-system, "Segoe UI", sans-serif; color: var(--ink); background: #fff; }
header { padding: 14px 24px 6px; border-bottom: 1px solid var(--line); }
h1 { font-size: 20px; margin: 0; }
h2 { font-size: 16px; margin: 18px 0 6px; }
main { padding: 0 24px 24px; }
.hint, #subtitle { color: #566573; margin: 2px 0 8px; font-size: 13px; }
.note { padding: 12px 24px; background: #fdebd0; }
button { font: inherit; }
#totals { display: flex; flex-wrap: wrap; gap: 8px; margin-top: 12px; }
.total { border: 1px solid var(--line); border-radius: 6px; padding: 6px 12px; background: var(--soft); min-width: 110px; text-align: left; cursor: pointer; }
.total.plain { cursor: default; }
.total .count { display: block; font-size: 20px; font-weight: 600; }
.total .label { font-size: 12px; color: #566573; }
.swatch { display: inline-block; width: 10px; height: 10px; border-radius: 2px; margin-right: 5px; vertical-align: baseline; }
.legend { display: flex; flex-wrap: wrap; gap: 14px; font-size: 12px; margin-bottom: 6px; }
.bar-row { display: grid; grid-template-columns: minmax(180px, 32%) 1fr; gap: 10px; align-items: center; padding: 3px 0; }
.bar-label { overflow-wrap: anywhere; font-size: 13px; }
.bar-label .detail { color: #566573; font-size: 12px; display: block; }
.bar-label .mono, td, .mono { font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
svg.bar { width: 100%; height: 22px; display: block; }
svg.bar rect { cursor: pointer; }
svg.bar rect:hover, svg.bar rect:focus { stroke: #000; stroke-width: 1.5; outline: none; }
svg.bar text { font-size: 11px; fill: #1c2833; }
.product { border-top: 1px solid var(--line); padding: 6px 0; }
.product-name { font-weight: 600; overflow-wrap: anywhere; }
.versions { display: grid; grid-template-columns: minmax(120px, 24%) 1fr 110px; gap: 2px 10px; align-items: center; margin: 4px 0 0 12px; font-size: 13px; }
.versions .version { overflow-wrap: anywhere; font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
.versions svg.bar { height: 14px; }
.versions .hint { margin: 0; white-space: nowrap; }
.configured { font-size: 11px; background: #d6eaf8; border-radius: 3px; padding: 0 4px; margin-left: 6px; font-family: system-ui, sans-serif; }
table { border-collapse: collapse; width: 100%; font-size: 12.5px; }
/* Fixed column widths: the browser lays out a drawn window of rows without
   measuring every cell first. */
#machine-table { table-layout: fixed; }
#machine-table th:nth-child(1) { width: 18%; }
#machine-table th:nth-child(2), #machine-table th:nth-child(5) { width: 9%; }
#machine-table th:nth-child(3) { width: 10%; }
#machine-table th:nth-child(4), #machine-table th:nth-child(6), #machine-table th:nth-child(7) { width: 12%; }
#machine-table th:nth-child(8) { width: 18%; }
th, td { border-bottom: 1px solid var(--line); padding: 3px 6px; text-align: left; vertical-align: top; overflow-wrap: anywhere; }
th { position: sticky; top: 0; background: #fff; z-index: 1; box-shadow: 0 1px 0 var(--line); }
/* One line per machine, of a fixed height: the script draws only the rows
   in view and works out which those are from the scroll position. */
#table-scroll { height: 70vh; min-height: 240px; overflow-y: auto; border: 1px solid var(--line); contain: strict; }
#machine-rows tr.machine { height: 24px; }
#machine-rows tr.machine td { white-space: nowrap; overflow: hidden; text-overflow: ellipsis; height: 24px; line-height: 17px; }
#machine-rows tr.machine td.path { direction: rtl; text-align: left; }
#machine-table th:nth-child(9) { width: 10%; }
#machine-rows tr.open { background: #d6eaf8; }
#machine-rows tr.spacer td { padding: 0; border: 0; }
#machine-details { position: relative; margin-top: 10px; border: 1px solid var(--line); border-radius: 6px; padding: 8px 14px; background: var(--soft); }
#machine-details h3 { font-size: 14px; margin: 0 24px 4px 0; overflow-wrap: anywhere; }
#machine-details .close { position: absolute; top: 4px; right: 8px; border: 0; background: none; font-size: 18px; cursor: pointer; }
th button { border: 0; background: none; padding: 0; font-weight: 600; cursor: pointer; text-align: left; }
th[aria-sort="ascending"] button::after { content: " \25B2"; }
th[aria-sort="descending"] button::after { content: " \25BC"; }
#machine-rows tr.machine { cursor: pointer; }
#machine-rows tr.machine:hover { background: var(--soft); }
td.missing::before { content: "\2013"; color: #aab7b8; }
td.error { color: var(--none); }
.details dt { font-weight: 600; margin-top: 4px; }
.details dd { margin: 0 0 0 14px; font-family: ui-monospace, "DejaVu Sans Mono", monospace; white-space: pre-wrap; overflow-wrap: anywhere; }
.controls { display: flex; flex-wrap: wrap; gap: 12px; align-items: center; }
#filter { width: 26em; padding: 3px 6px; font: inherit; }
#selection .chip { background: #d6eaf8; border-radius: 12px; padding: 2px 4px 2px 10px; }
#selection .chip button { border: 0; background: none; cursor: pointer; }
.warning-table td { font-family: system-ui, sans-serif; }
.warning-table tr.warning { cursor: pointer; }
.warning-table tr.warning:hover { background: var(--soft); }
.warning-table td.key { font-family: ui-monospace, "DejaVu Sans Mono", monospace; white-space: nowrap; }
.warning-table td.num, .warning-table th:nth-child(2) { text-align: right; }
details { font-size: 12px; color: #566573; }
details li { font-family: ui-monospace, "DejaVu Sans Mono", monospace; overflow-wrap: anywhere; }
)css";

}  // namespace fleet
