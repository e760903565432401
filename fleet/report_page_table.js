// The machines' table: its filter, the selection a click on a summary
// makes, its sort, the rows in view, and saving the rows shown as CSV. The
// table draws only the rows in view (and a few around them), so 10,000
// machines load in well under two seconds and a keystroke in the filter is
// answered at once. It shows the model's cells (report_page_model.js).

const ROW_HEIGHT = 24;  // px, as the style sheet sets tr.machine
const OVERSCAN = 8;     // rows drawn beyond the view on either side

// ---- Selection and filter ---------------------------------------------
const state = { selection: null, query: "", sort: -1, descending: false,
                order: machines.map((m) => m.index), shown: [], open: null, rollout: "",
                identity: false };
const visibleColumns = () => COLUMNS.map((_, index) => index)
  .filter((index) => index < OPTIONAL_FROM || state.identity);
const filterInput = document.getElementById("filter");

function select(label, test) {
  state.selection = { label, test };
  applyFilter();
  document.getElementById("machines").scrollIntoView();
}

function drawSelection() {
  const holder = document.getElementById("selection");
  holder.replaceChildren();
  if (!state.selection) return;
  const chip = element("span", "chip", "Only: " + state.selection.label + " ");
  const clear = element("button", null, "\u00D7");
  clear.type = "button";
  clear.title = "Show every machine";
  clear.setAttribute("aria-label", "Show every machine");
  clear.addEventListener("click", () => { state.selection = null; applyFilter(); });
  chip.appendChild(clear);
  holder.appendChild(chip);
}

function applyFilter() {
  const query = state.query;
  const test = state.selection ? state.selection.test : null;
  const wanted = state.rollout;
  state.shown = state.order.filter((i) => (!query || haystacks[i].includes(query)) &&
                                          (!test || test(machines[i])) &&
                                          (!wanted || stateOf(machines[i]) === wanted));
  drawSelection();
  drawRows();
}

filterInput.addEventListener("input", () => {
  state.query = filterInput.value.trim().toLowerCase();
  applyFilter();
});

// ---- Sorting ------------------------------------------------------------
const ranks = [];
function ranksOf(column) {
  if (!ranks[column]) {
    const values = [...new Set(cells.map((row) => row[column] || ""))].sort(naturalCompare);
    const rank = new Map(values.map((value, index) => [value, index]));
    ranks[column] = Int32Array.from(cells, (row) => rank.get(row[column] || ""));
  }
  return ranks[column];
}
function sortBy(column) {
  state.descending = state.sort === column ? !state.descending : false;
  state.sort = column;
  const rank = ranksOf(column), sign = state.descending ? -1 : 1;
  state.order = machines.map((m) => m.index)
    .sort((a, b) => sign * (rank[a] - rank[b]) || a - b);
  drawHead();
  applyFilter();
}

// ---- The machines' table ----------------------------------------------
// The product column as wide as the longest product name needs, up to
// the share the style sheet leaves it: a name is read whole before any
// warning is.
function productWidth() {
  const probe = document.createElement("canvas").getContext("2d");
  probe.font = "12.5px ui-monospace, \"DejaVu Sans Mono\", monospace";
  let widest = probe.measureText("Product").width;
  for (const m of machines) {
    if (m.product !== null) widest = Math.max(widest, probe.measureText(m.product).width);
  }
  return Math.ceil(Math.min(widest + 16, Math.max(120, scroller.clientWidth * 0.14)));
}

function drawHead() {
  const head = document.getElementById("machine-head");
  head.replaceChildren();
  COLUMNS.forEach((column, index) => {
    if (!visibleColumns().includes(index)) return;
    const th = element("th");
    th.dataset.column = column[0];
    if (index === PRODUCT_COLUMN) th.style.width = productWidth() + "px";
    th.setAttribute("aria-sort", state.sort !== index ? "none" : state.descending ? "descending" : "ascending");
    const button = element("button", null, column[0]);
    button.type = "button";
    button.addEventListener("click", () => sortBy(index));
    th.appendChild(button);
    head.appendChild(th);
  });
}

// The rows in view, and OVERSCAN more on either side, between two spacer
// rows as tall as the rows not drawn: a fixed ROW_HEIGHT makes the
// window a matter of arithmetic, and a redraw lays out a few dozen rows
// however many machines match.
const scroller = document.getElementById("table-scroll");
const body = document.getElementById("machine-rows");
let window_ = { first: -1, last: -1 };

function spacer(height) {
  const tr = element("tr", "spacer");
  const td = element("td");
  td.colSpan = visibleColumns().length;
  td.style.height = height + "px";
  tr.appendChild(td);
  return tr;
}

function drawWindow(force) {
  const total = state.shown.length;
  const first = Math.max(0, Math.floor(scroller.scrollTop / ROW_HEIGHT) - OVERSCAN);
  const last = Math.min(total, first + Math.ceil(scroller.clientHeight / ROW_HEIGHT) + 2 * OVERSCAN);
  if (!force && first === window_.first && last === window_.last) return;
  window_ = { first, last };
  const rows = document.createDocumentFragment();
  rows.appendChild(spacer(first * ROW_HEIGHT));
  for (let n = first; n < last; n++) {
    const index = state.shown[n];
    const tr = element("tr", index === state.open ? "machine open" : "machine");
    tr.dataset.index = index;
    tr.tabIndex = 0;
    const visible = visibleColumns();
    cells[index].forEach((cell, column) => {
      if (!visible.includes(column)) return;
      const path = cell !== null && PATH_COLUMNS.includes(column);
      const td = element("td", cell === null ? "missing" : path ? "path" :
                               column === 5 && machines[index].error !== null ? "error" : null,
                         path ? null : cell);
      // The path keeps its own order inside a cell that lays out, and so
      // cuts, from the right.
      if (path) td.appendChild(element("bdi", null, cell)).dir = "ltr";
      if (cell) td.title = cell;
      tr.appendChild(td);
    });
    rows.appendChild(tr);
  }
  rows.appendChild(spacer((total - last) * ROW_HEIGHT));
  body.replaceChildren(rows);
  const shown = document.getElementById("shown");
  shown.dataset.first = first;
}

function drawRows() {
  const shown = document.getElementById("shown");
  shown.dataset.shown = state.shown.length;
  shown.textContent = (state.shown.length === machines.length ? "All " + plural(machines.length, "machine", "machines")
                       : plural(state.shown.length, "machine", "machines") + " of " + count(machines.length)) +
                      ". Click a machine for its runs and warnings.";
  scroller.scrollTop = 0;
  drawWindow(true);
}
scroller.addEventListener("scroll", () => requestAnimationFrame(() => drawWindow(false)));

// ---- Saving the rows shown as CSV ---------------------------------------
// The rows the table shows, in its order, as --format csv writes them:
// the same columns, fields and quoting (RFC 4180, CRLF line ends).
function csvRecord(fields) {
  return fields.map((field) => (/[",\r\n]/.test(field) ? '"' + field.replace(/"/g, '""') + '"' : field))
    .join(",") + "\r\n";
}
function shownAsCsv() {
  let csv = csvRecord(data.csv_titles);
  for (const index of state.shown) csv += csvRecord(machines[index].csv.map((field) => texts[field]));
  return csv;
}
const saveButton = document.getElementById("save-csv");
saveButton.addEventListener("click", () => {
  const url = URL.createObjectURL(new Blob([shownAsCsv()], { type: "text/csv;charset=utf-8" }));
  const link = element("a");
  link.href = url;
  link.download = "fleet-rows.csv";
  document.body.appendChild(link);
  link.click();
  link.remove();
  saveButton.dataset.saved = state.shown.length;
  setTimeout(() => URL.revokeObjectURL(url), 60000);
});
document.getElementById("identity-columns").addEventListener("change", (event) => {
  state.identity = event.target.checked;
  drawHead();
  drawWindow(true);
});
