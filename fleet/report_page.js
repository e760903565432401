// The fleet report page's script. It reads the page's JSON (a string
// table, the kits, the warnings' meanings, the names of the columns and one
// array of indices per machine, in the columns' order) and draws the summaries and the machines' table from it, with
// its filter, sort and selection. Every text from the data reaches the page
// through text nodes and attribute values only, never as markup. The table
// draws only the rows in view (and a few around them), so 10,000 machines
// load in well under two seconds and a keystroke in the filter is answered
// at once. The summaries count machines from the same rows the table shows,
// so a number and the machines a click on it lists cannot disagree.
"use strict";
(function () {
  const ROW_HEIGHT = 24;  // px, as the style sheet sets tr.machine
  const OVERSCAN = 8;     // rows drawn beyond the view on either side
  const PRODUCTS_SHOWN = 100;
  const VERSIONS_SHOWN = 25;
  const SENTENCES_SHOWN = 10;
  const SVG = "http://www.w3.org/2000/svg";
  // The outcomes every kit's bar shows first, in this order and colour;
  // any other (several scripts in one run) follows in its own colour.
  const OUTCOMES = [["UpdateHWOld.nsh", "var(--old)"], ["UpdateHWNew.nsh", "var(--new)"],
                    ["no script", "var(--none)"]];
  const NO_KIT = "without a kit";
  const NOT_SMBIOS = "not SMBIOS data";
  const SEVERAL = "served by several kits";
  // The rollout states (with records), in the order and colour the page
  // shows them; a machine with a kit that fits none of them is "other".
  const STATES = [["at-target", "var(--at-target)"], ["started-still-below", "var(--still-below)"],
                  ["refused", "var(--refused)"], ["not-visited", "var(--not-visited)"],
                  ["other", "var(--other)"]];
  const NO_STATE = "no state";
  // An input that holds a machine an earlier input holds: listed, and
  // counted once, under that earlier input.
  const REPEAT = "repeats a machine";

  const data = JSON.parse(document.getElementById("fleet-data").textContent);
  const texts = data.texts;
  const text = (index) => (index >= 0 ? texts[index] : null);
  const K = placesOf(data.kit_columns);  // a kit's places, named as a row's are (below)
  const kits = data.kits.map((kit, index) => ({
    index, folder: kit[K.folder], productName: kit[K.product_name], version: kit[K.version],
    identity: kit[K.kit_sha256], name: kit[K.folder] === "" ? "(the kit)" : kit[K.folder],
  }));
  // A kit's identity as the image's -v line and the table show it: its
  // first and last hex digits.
  const shortIdentity = (identity) => identity.slice(0, 4) + "..." + identity.slice(-2);
  const meanings = new Map(data.warnings.map((entry) => [entry[0], entry[1]]));

  // ---- The machines ----------------------------------------------------
  // Each row lists its columns in the order data.columns names them (the
  // rollout's only with records); a machine's runs and warnings are flat
  // lists of groups, whose places data.run_columns and data.warning_columns
  // name likewise. Every field is found by its name, its place looked up
  // once here.
  function placesOf(names) {
    const places = {};
    names.forEach((name, place) => { places[name] = place; });
    return places;
  }
  const C = placesOf(data.columns);
  const R = placesOf(data.run_columns);
  const W = placesOf(data.warning_columns);
  const at = (row, place) => (place === undefined ? -1 : row[place]);
  const listAt = (row, place) => (place === undefined ? [] : row[place]);
  const machines = data.rows.map((row, index) => {
    const machine = {
      index, input: text(at(row, C.input)), manufacturer: text(at(row, C.manufacturer)),
      product: text(at(row, C.product)), bios: text(at(row, C.bios_version)),
      string2: text(at(row, C.string2)), error: text(at(row, C.error)), runs: [], warnings: [],
      keys: [],
    };
    const runs = listAt(row, C.runs);
    for (let i = 0; i + data.run_columns.length <= runs.length; i += data.run_columns.length) {
      machine.runs.push({
        kit: runs[i + R.kit], outcome: text(runs[i + R.outcome]), shown: text(runs[i + R.shown]),
        segments: text(runs[i + R.segments]), messages: text(runs[i + R.messages]),
        segmentMessages: text(runs[i + R.segment_messages]),
      });
    }
    machine.state = text(at(row, C.rollout));
    if (at(row, C.record_where) >= 0) {
      machine.record = { where: text(at(row, C.record_where)), time: text(at(row, C.record_time)),
                         script: text(at(row, C.record_script)), ran: at(row, C.record_ran) === 1,
                         status: text(at(row, C.record_status)),
                         message: text(at(row, C.record_message)) };
    } else {
      machine.record = null;
    }
    machine.serial = text(at(row, C.serial));
    machine.sku = text(at(row, C.sku));
    machine.uuid = text(at(row, C.uuid));
    machine.sameAs = text(at(row, C.same_as));
    machine.csv = listAt(row, C.csv);
    machine.hwids = listAt(row, C.hwids);
    const warnings = listAt(row, C.warnings);
    for (let i = 0; i + data.warning_columns.length <= warnings.length; i += data.warning_columns.length) {
      const key = text(warnings[i + W.key]);
      machine.warnings.push({ key, sentence: text(warnings[i + W.sentence]) });
      if (!machine.keys.includes(key)) machine.keys.push(key);
    }
    return machine;
  });
  const counted = (m) => m.sameAs === null;
  const hasKit = (m) => m.error === null && counted(m) && m.runs.length > 0;
  const noKit = (m) => m.error === null && counted(m) && m.runs.length === 0;
  const kitName = (index) => kits[index].name;
  // A machine's rollout state as the page counts it: its state; "other"
  // with one kit and none of the states; "no state" without one kit.
  const stateOf = (m) => (!counted(m) ? NO_STATE : m.state !== null ? m.state :
                          hasKit(m) && m.runs.length === 1 ? "other" : NO_STATE);
  // What happens to a machine: its one kit's outcome, or why there is none.
  const machineOutcome = (m) => (m.error !== null ? NOT_SMBIOS : !counted(m) ? REPEAT : !m.runs.length ? NO_KIT :
                                 m.runs.length > 1 ? SEVERAL : m.runs[0].outcome);

  // The table's columns: what each cell shows, and so what the filter
  // searches and the sort orders. null is a missing string.
  const COLUMNS = [
    ["Input", (m) => m.input],
    ["Manufacturer", (m) => m.manufacturer],
    ["Product", (m) => m.product],
    ["BIOS version", (m) => m.bios],
    ["Kit", (m) => (m.error !== null ? null : m.runs.length ? m.runs.map((r) => kitName(r.kit)).join("; ") : "(no kit)")],
    ["Outcome", (m) => (m.error !== null ? "not SMBIOS data: " + m.error : m.runs.length ? m.runs.map((r) => r.shown).join("; ") : "no kit")],
    ["With -segments", (m) => (m.error !== null ? null : m.runs.length ? m.runs.map((r) => r.segments).join("; ") : "no kit")],
    ["Warnings", (m) => (m.keys.length ? m.keys.join(", ") : null)],
  ];
  if (data.records) COLUMNS.push(["Rollout", (m) => m.state]);
  // Shown on request (the checkbox above the table); searched always, so
  // the filter finds a machine by its serial number or UUID.
  const OPTIONAL_FROM = COLUMNS.length;
  COLUMNS.push(["Serial", (m) => m.serial], ["UUID", (m) => m.uuid]);
  const PRODUCT_COLUMN = 2;
  // Columns of paths: cut at their start when too long, since their ends
  // (the file, the kit's folder) are what tell the rows apart.
  const PATH_COLUMNS = [0, 4];
  const cells = machines.map((m) => COLUMNS.map((column) => column[1](m)));
  // One lower-case text per machine; a line end cannot be typed into the
  // filter, so no match runs across two cells.
  const haystacks = cells.map((row) => row.map((cell) => cell || "").join("\n").toLowerCase());

  // ---- Drawing helpers (text nodes only) --------------------------------
  function element(tag, className, content) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (content !== undefined && content !== null) node.textContent = String(content);
    return node;
  }
  function svgElement(tag, attributes) {
    const node = document.createElementNS(SVG, tag);
    for (const name in attributes) node.setAttribute(name, String(attributes[name]));
    return node;
  }
  function count(n) { return n.toLocaleString("en-US"); }
  function plural(n, one, many) { return count(n) + " " + (n === 1 ? one : many); }
  function onActivate(node, action) {
    node.addEventListener("click", action);
    node.addEventListener("keydown", (event) => {
      if (event.key === "Enter" || event.key === " ") { event.preventDefault(); action(); }
    });
  }
  function colourOf(outcome) {
    for (const [name, colour] of OUTCOMES) if (name === outcome) return colour;
    if (outcome === NO_KIT) return "var(--nokit)";
    if (outcome === SEVERAL) return "var(--several)";
    if (outcome === NOT_SMBIOS) return "var(--error)";
    return "var(--other)";
  }
  // Outcomes in the order the bars draw them: the usual three, then the rest.
  function orderedOutcomes(counts) {
    const known = OUTCOMES.map((entry) => entry[0]).filter((name) => counts.has(name));
    const others = [...counts.keys()].filter((name) => !known.includes(name)).sort(naturalCompare);
    return known.concat(others);
  }
  // A horizontal bar of parts [{label, count, colour, select, attributes}]:
  // `scale` machines fill 90% of the width, the rest is for the count.
  function bar(parts, scale, withCount) {
    const svg = svgElement("svg", { class: "bar", role: "img" });
    let x = 0;
    for (const part of parts) {
      if (!part.count) continue;
      const width = (90 * part.count) / Math.max(scale, 1);
      const rect = svgElement("rect", Object.assign({
        x: x + "%", y: 1, width: Math.max(width, 0.4) + "%", height: "90%",
        tabindex: 0, role: "button", "data-count": part.count,
      }, part.attributes || {}));
      rect.style.fill = part.colour;  // a style property takes var(), in every browser
      const title = svgElement("title", {});
      title.textContent = part.label + ": " + plural(part.count, "machine", "machines");
      rect.appendChild(title);
      onActivate(rect, part.select);
      svg.appendChild(rect);
      x += width;
    }
    if (withCount) {
      const label = svgElement("text", { x: x + 0.8 + "%", y: "72%" });
      label.textContent = count(parts.reduce((sum, part) => sum + part.count, 0));
      svg.appendChild(label);
    }
    return svg;
  }

  // ---- Natural order ----------------------------------------------------
  // Case ignored first; runs of digits compare by their value, so 1.9 comes
  // before 1.10 and A05 before A7. Ties fall back to the exact texts.
  function isDigit(code) { return code >= 48 && code <= 57; }
  function naturalCompare(a, b) {
    const x = a.toLowerCase(), y = b.toLowerCase();
    let i = 0, j = 0;
    while (i < x.length && j < y.length) {
      const cx = x.charCodeAt(i), cy = y.charCodeAt(j);
      if (isDigit(cx) && isDigit(cy)) {
        let endX = i, endY = j;
        while (endX < x.length && isDigit(x.charCodeAt(endX))) endX++;
        while (endY < y.length && isDigit(y.charCodeAt(endY))) endY++;
        while (i < endX - 1 && x.charCodeAt(i) === 48) i++;
        while (j < endY - 1 && y.charCodeAt(j) === 48) j++;
        if (endX - i !== endY - j) return (endX - i) - (endY - j);
        for (; i < endX; i++, j++) {
          if (x.charCodeAt(i) !== y.charCodeAt(j)) return x.charCodeAt(i) - y.charCodeAt(j);
        }
      } else {
        if (cx !== cy) return cx - cy;
        i++; j++;
      }
    }
    if (x.length - i !== y.length - j) return (x.length - i) - (y.length - j);
    return a < b ? -1 : a > b ? 1 : 0;
  }

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

  // The machine's hardware-ID fields and IDs, as the image's -hwids prints
  // them, with a button that copies them for a kit's HardwareIds=.
  function hardwareIds(m, list) {
    const lines = [];
    data.hwidFields.forEach((name, i) => {
      const value = text(m.hwids[i]);
      lines.push(name + ": " + (value === null ? "absent" : "\"" + value + "\""));
    });
    data.hwidLists.forEach((fields, i) => {
      const id = text(m.hwids[data.hwidFields.length + i]);
      lines.push("HardwareID-" + i + ": " + (id === null ? "absent" : "{" + id + "}") + " <- " + fields);
    });
    const term = element("dt", null, "Hardware IDs ");
    const copy = element("button", "copy", "Copy");
    copy.type = "button";
    copy.title = "Copy the fields and IDs";
    copy.addEventListener("click", (event) => {
      event.stopPropagation();
      const all = lines.join("\n");
      const done = () => { copy.textContent = "Copied"; };
      if (navigator.clipboard && window.isSecureContext) {
        navigator.clipboard.writeText(all).then(done, () => fallbackCopy(all, done));
      } else {
        fallbackCopy(all, done);
      }
    });
    term.appendChild(copy);
    list.appendChild(term);
    list.appendChild(element("dd", "hwids", lines.join("\n")));
  }
  // A page opened from a file has no clipboard interface: a selected text
  // area and the copy command do the same.
  function fallbackCopy(all, done) {
    const area = element("textarea");
    area.value = all;
    document.body.appendChild(area);
    area.select();
    const copied = document.execCommand("copy");
    area.remove();
    if (copied) done();
  }

  function detailList(m) {
    const list = element("dl", "details");
    const add = (term, value) => {
      list.appendChild(element("dt", null, term));
      list.appendChild(element("dd", null, value === null || value === "" ? "\u2013" : value));
    };
    if (m.error !== null) {
      add("Not SMBIOS data", m.error);
    } else {
      add("Product", m.product);
      add("Serial number", m.serial);
      add("UUID", m.uuid);
      add("SKU", m.sku);
      if (m.sameAs !== null) add("The same machine as", m.sameAs);
      add("BIOS version", m.bios);
      add("String 2 of BIOS Information (what the integer rule reads)", m.string2);
      if (m.hwids.length > 0) hardwareIds(m, list);
    }
    for (const run of m.runs) {
      const kit = kits[run.kit];
      add("Kit " + kit.name, "ProductName=" + (kit.productName === null ? "(none)" : kit.productName) +
          "\nVersion=" + (kit.version === null ? "(none)" : kit.version) +
          (kit.identity === null ? "\nno SHA256SUMS" : "\nkit_sha256 " + kit.identity));
      add("With the kit's options: " + run.shown, run.messages);
      add("With -segments: " + run.segments, run.segmentMessages);
    }
    if (data.records) {
      add("Rollout", stateOf(m));
      const r = m.record;
      add("Latest record", r === null ? "none" :
          r.where + "\ntime " + (r.time === null ? "unknown" : r.time) +
          "\nscript " + (r.script === null ? "none" : r.script) + (r.ran ? ", ran" : ", not run") +
          "\nstatus " + r.status + (r.message === null ? "" : "\n" + r.message));
    }
    for (const warning of m.warnings) add("Warning " + warning.key, warning.sentence);
    return list;
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

  function drawDetails() {
    const panel = document.getElementById("machine-details");
    panel.replaceChildren();
    panel.hidden = state.open === null;
    if (state.open === null) return;
    const m = machines[state.open];
    const close = element("button", "close", "\u00D7");
    close.type = "button";
    close.title = "Close";
    close.setAttribute("aria-label", "Close");
    close.addEventListener("click", () => { state.open = null; drawDetails(); drawWindow(true); });
    panel.appendChild(close);
    panel.appendChild(element("h3", "mono", m.input));
    panel.appendChild(detailList(m));
    panel.scrollIntoView({ block: "nearest" });
  }
  function toggleDetails(event) {
    const tr = event.target.closest("tr.machine");
    if (!tr) return;
    const index = Number(tr.dataset.index);
    state.open = state.open === index ? null : index;
    drawDetails();
    drawWindow(true);
  }
  body.addEventListener("click", toggleDetails);
  body.addEventListener("keydown", (event) => {
    if (event.key === "Enter") toggleDetails(event);
  });

  // ---- Totals -------------------------------------------------------------
  function drawTotals() {
    const holder = document.getElementById("totals");
    // Each machine counts once: under its one kit's outcome, as served by
    // several kits, without a kit, or as an input that is not SMBIOS data.
    // The usual three outcomes always, so every report reads alike.
    const outcomes = new Map(OUTCOMES.map((entry) => [entry[0], 0]));
    for (const m of machines) {
      if (hasKit(m) && m.runs.length === 1) outcomes.set(m.runs[0].outcome, (outcomes.get(m.runs[0].outcome) || 0) + 1);
    }
    const add = (label, n, attributes, selectLabel, test) => {
      const box = element(test ? "button" : "div", test ? "total" : "total plain");
      if (test) { box.type = "button"; box.addEventListener("click", () => select(selectLabel, test)); }
      for (const name in attributes) box.setAttribute(name, attributes[name]);
      box.dataset.count = n;
      box.appendChild(element("span", "count", count(n)));
      box.appendChild(element("span", "label", label));
      holder.appendChild(box);
    };
    const machineCount = machines.filter(counted).length;
    add(machineCount === 1 ? "machine" : "machines", machineCount, { "data-total": "machines" },
        "every machine, each once", counted);
    for (const outcome of orderedOutcomes(outcomes)) {
      const n = outcomes.get(outcome);
      add(outcome, n, { "data-total": "outcome", "data-outcome": outcome },
          outcome + " (with the machine's one kit)", (m) => machineOutcome(m) === outcome);
    }
    for (const [label, key] of [[SEVERAL, "several-kits"], [NO_KIT, "no-kit"], [NOT_SMBIOS, "error"],
                                [REPEAT, "repeat"]]) {
      const n = machines.filter((m) => machineOutcome(m) === label).length;
      if (key === "repeat" && !n) continue;
      add(key === "repeat" ? (n === 1 ? "input repeats a machine" : "inputs repeat a machine") : label,
          n, { "data-total": key }, label, (m) => machineOutcome(m) === label);
    }
    const repeats = machines.length - machineCount;
    document.getElementById("subtitle").textContent = plural(machineCount, "machine", "machines") +
      " against " + plural(kits.length, "kit", "kits") + "." +
      (repeats ? " " + plural(repeats, "more input holds", "more inputs hold") +
                 " a machine another input holds (warning same-machine): listed, counted once." : "");
  }

  // ---- Kit bars -----------------------------------------------------------
  function drawKits() {
    const perKit = kits.map(() => new Map());
    for (const m of machines) {
      if (!counted(m)) continue;
      for (const run of m.runs) perKit[run.kit].set(run.outcome, (perKit[run.kit].get(run.outcome) || 0) + 1);
    }
    const noKitCount = machines.filter(noKit).length;
    const errors = machines.filter((m) => m.error !== null).length;
    const totals = perKit.map((counts) => [...counts.values()].reduce((a, b) => a + b, 0));
    const scale = Math.max(1, noKitCount, errors, ...totals);
    const seen = new Set(OUTCOMES.map((entry) => entry[0]));
    perKit.forEach((counts) => counts.forEach((_, outcome) => seen.add(outcome)));

    const legend = document.getElementById("kit-legend");
    for (const outcome of orderedOutcomes(new Map([...seen].map((o) => [o, 1])))) {
      const item = element("span");
      const swatch = element("span", "swatch");
      swatch.style.background = colourOf(outcome);
      item.appendChild(swatch);
      item.appendChild(document.createTextNode(outcome));
      legend.appendChild(item);
    }
    const holder = document.getElementById("kit-bars");
    const row = (labelNode, svg) => {
      const line = element("div", "bar-row");
      line.appendChild(labelNode);
      line.appendChild(svg);
      holder.appendChild(line);
    };
    kits.forEach((kit, k) => {
      const label = element("div", "bar-label");
      label.appendChild(element("span", "mono", kit.name));
      label.appendChild(element("span", "detail",
        (kit.productName === null ? "no ProductName=" : "ProductName=" + kit.productName) + "  \u00B7  " +
        (kit.version === null ? "no Version=" : "Version=" + kit.version) + "  \u00B7  " +
        (kit.identity === null ? "" : "kit " + shortIdentity(kit.identity) + "  \u00B7  ") +
        plural(totals[k], "machine", "machines")));
      const parts = orderedOutcomes(perKit[k]).map((outcome) => ({
        label: kit.name + ", " + outcome, count: perKit[k].get(outcome), colour: colourOf(outcome),
        attributes: { "data-kit": k, "data-outcome": outcome },
        select: () => select(kit.name + ", " + outcome,
                             (m) => counted(m) && m.runs.some((run) => run.kit === k && run.outcome === outcome)),
      }));
      row(label, bar(parts, scale, true));
    });
    const single = (name, n, colour, key, test) => {
      const label = element("div", "bar-label", name);
      row(label, bar([{ label: name, count: n, colour, attributes: { "data-bar": key },
                        select: () => select(name, test) }], scale, true));
    };
    single("Machines " + NO_KIT, noKitCount, colourOf(NO_KIT), "no-kit", noKit);
    single("Inputs that are " + NOT_SMBIOS, errors, colourOf(NOT_SMBIOS), "error", (m) => m.error !== null);
  }

  // ---- Rollout ------------------------------------------------------------------
  // With records: the states' totals, a bar per kit split by state, and the
  // table's filter by state. Each machine with one kit counts under that
  // kit, as the table's summary counts them.
  function drawRollout() {
    if (!data.records) return;
    const colour = new Map(STATES);
    const totals = new Map(STATES.map((entry) => [entry[0], 0]));
    const perKit = kits.map(() => new Map(STATES.map((entry) => [entry[0], 0])));
    for (const m of machines) {
      const name = stateOf(m);
      if (name === NO_STATE) continue;
      totals.set(name, totals.get(name) + 1);
      perKit[m.runs[0].kit].set(name, perKit[m.runs[0].kit].get(name) + 1);
    }
    const holder = document.getElementById("totals");
    for (const [name] of STATES) {
      if (name === "other" && !totals.get(name)) continue;
      const box = element("button", "total rollout");
      box.type = "button";
      box.dataset.total = "rollout";
      box.dataset.state = name;
      box.dataset.count = totals.get(name);
      box.style.borderColor = colour.get(name);
      box.addEventListener("click", () => chooseState(name));
      box.appendChild(element("span", "count", count(totals.get(name))));
      box.appendChild(element("span", "label", name));
      holder.appendChild(box);
    }
    document.getElementById("rollout").hidden = false;
    const legend = document.getElementById("rollout-legend");
    for (const [name, shade] of STATES) {
      const item = element("span");
      const swatch = element("span", "swatch");
      swatch.style.background = shade;
      item.appendChild(swatch);
      item.appendChild(document.createTextNode(name));
      legend.appendChild(item);
    }
    const bars = document.getElementById("rollout-bars");
    const sums = perKit.map((states) => [...states.values()].reduce((a, b) => a + b, 0));
    const scale = Math.max(1, ...sums);
    kits.forEach((kit, k) => {
      const line = element("div", "bar-row");
      const label = element("div", "bar-label");
      label.appendChild(element("span", "mono", kit.name));
      label.title = kit.name;
      label.appendChild(element("span", "detail", plural(sums[k], "machine", "machines") + " with this kit alone"));
      line.appendChild(label);
      line.appendChild(bar(STATES.map(([name, shade]) => ({
        label: kit.name + ", " + name, count: perKit[k].get(name), colour: shade,
        attributes: { "data-kit": k, "data-state": name },
        select: () => select(kit.name + ", " + name,
                             (m) => stateOf(m) === name && m.runs[0].kit === k),
      })), scale, true));
      bars.appendChild(line);
    });
    const chooser = document.getElementById("state-filter");
    for (const name of ["", ...STATES.map((entry) => entry[0]), NO_STATE]) {
      const option = element("option", null, name === "" ? "every state" : name);
      option.value = name;
      chooser.appendChild(option);
    }
    chooser.addEventListener("change", () => { state.rollout = chooser.value; applyFilter(); });
    document.getElementById("state-label").hidden = false;
  }
  function chooseState(name) {
    const chooser = document.getElementById("state-filter");
    chooser.value = name;
    state.rollout = name;
    applyFilter();
    document.getElementById("machines").scrollIntoView();
  }

  // ---- Versions per product -------------------------------------------------
  // Quoted when blanks begin or end it (a group's name has none at its end,
  // but a name in the table may).
  function productLabel(name) {
    if (name === null) return "(no product name)";
    return name.trim() !== name || name === "" ? "\u201C" + name + "\u201D" : name;
  }
  // A product name without its trailing blanks and tabs (a tab shows as
  // \x09): the kits' ProductName= matching ignores them, so names that
  // differ only there are one model.
  function productKey(name) { return name === null ? null : name.replace(/(?: |\\x09)+$/, ""); }
  function drawProducts() {
    const products = new Map();
    for (const m of machines) {
      if (m.error !== null || !counted(m)) continue;
      const name = productKey(m.product);
      const key = name === null ? "\u0000" : name;
      let product = products.get(key);
      if (!product) {
        product = { name, machines: 0, versions: new Map(), kits: new Map(), noKit: 0, spellings: new Set() };
        products.set(key, product);
      }
      product.spellings.add(m.product);
      product.machines++;
      const version = m.bios === null ? "\u0000" : m.bios;
      let entry = product.versions.get(version);
      if (!entry) { entry = { bios: m.bios, outcomes: new Map(), machines: 0 }; product.versions.set(version, entry); }
      entry.machines++;
      const outcome = machineOutcome(m);
      entry.outcomes.set(outcome, (entry.outcomes.get(outcome) || 0) + 1);
      if (!m.runs.length) product.noKit++;
      for (const run of m.runs) product.kits.set(run.kit, (product.kits.get(run.kit) || 0) + 1);
    }
    const holder = document.getElementById("product-list");
    const sorted = [...products.values()].sort((a, b) => b.machines - a.machines ||
      naturalCompare(a.name === null ? "" : a.name, b.name === null ? "" : b.name));
    for (const product of sorted.slice(0, PRODUCTS_SHOWN)) {
      const block = element("div", "product");
      block.dataset.machines = product.machines;
      const head = element("div");
      head.appendChild(element("span", "product-name", productLabel(product.name)));
      if (product.name !== null) head.lastChild.dataset.product = product.name;
      const served = [...product.kits.entries()].sort((a, b) => b[1] - a[1]).map(([k]) =>
        "kit " + kitName(k) + ": " + (kits[k].version === null ? "no Version=" : "Version=" + kits[k].version));
      if (product.noKit) served.push(plural(product.noKit, "machine", "machines") + " without a kit");
      head.appendChild(element("span", "hint", "  \u2014  " + plural(product.machines, "machine", "machines") +
                                               (served.length ? "; " + served.join("; ") : "")));
      const others = [...product.spellings].filter((spelling) => spelling !== product.name);
      if (others.length) {
        const also = element("span", "hint spellings", "  (also as " +
          others.slice(0, 5).map((spelling) => "\u201C" + spelling + "\u201D").join(", ") +
          (others.length > 5 ? " and " + count(others.length - 5) + " more" : "") + ")");
        also.dataset.spellings = others.length;
        head.appendChild(also);
      }
      block.appendChild(head);
      const configured = new Set([...product.kits.keys()].map((k) => kits[k].version).filter((v) => v !== null));
      const grid = element("div", "versions");
      const versions = [...product.versions.values()].sort((a, b) =>
        naturalCompare(a.bios === null ? "" : a.bios, b.bios === null ? "" : b.bios));
      const most = Math.max(...versions.map((v) => v.machines));
      for (const entry of versions.slice(0, VERSIONS_SHOWN)) {
        const name = element("div", "version");
        name.appendChild(element("span", "version-text", entry.bios === null ? "(no BIOS version)" : entry.bios));
        name.dataset.machines = entry.machines;
        if (entry.bios !== null && configured.has(entry.bios)) name.appendChild(element("span", "configured", "the kit's Version="));
        const productName = product.name, bios = entry.bios;
        const label = productLabel(product.name) + ", BIOS " +
                      (bios === null ? "(none)" : bios);
        const parts = orderedOutcomes(entry.outcomes).map((outcome) => ({
          label: label + ", " + outcome, count: entry.outcomes.get(outcome),
          colour: colourOf(outcome),
          select: () => select(label, (m) => m.error === null && counted(m) && productKey(m.product) === productName &&
                                             m.bios === bios),
        }));
        grid.appendChild(name);
        grid.appendChild(bar(parts, most));
        grid.appendChild(element("div", "hint", plural(entry.machines, "machine", "machines")));
      }
      block.appendChild(grid);
      if (versions.length > VERSIONS_SHOWN) {
        block.dataset.moreVersions = versions.length - VERSIONS_SHOWN;
        block.appendChild(element("p", "hint", "and " + count(versions.length - VERSIONS_SHOWN) +
                                               " more versions: filter the table by the product's name"));
      }
      holder.appendChild(block);
    }
    if (sorted.length > PRODUCTS_SHOWN) {
      holder.appendChild(element("p", "hint", "and " + count(sorted.length - PRODUCTS_SHOWN) +
                                              " more products with fewer machines: see the table"));
    }
    if (!sorted.length) holder.appendChild(element("p", "hint", "No machine's data could be read."));
  }

  // ---- Warnings -------------------------------------------------------------
  function drawWarnings() {
    const holder = document.getElementById("warning-list");
    const perKey = new Map(data.warnings.map((entry) => [entry[0], { machines: 0, sentences: new Map() }]));
    for (const m of machines) {
      for (const key of m.keys) {
        if (!perKey.has(key)) perKey.set(key, { machines: 0, sentences: new Map() });
        perKey.get(key).machines++;
      }
      for (const warning of m.warnings) {
        const sentences = perKey.get(warning.key).sentences;
        sentences.set(warning.sentence, (sentences.get(warning.sentence) || 0) + 1);
      }
    }
    if (!perKey.size) { holder.appendChild(element("p", "hint", "No warnings.")); return; }
    const table = element("table", "warning-table");
    const head = element("tr");
    for (const title of ["Warning", "Machines", "What it means"]) head.appendChild(element("th", null, title));
    table.appendChild(element("thead")).appendChild(head);
    const body = element("tbody");
    for (const [key, entry] of perKey) {
      const tr = element("tr", "warning");
      tr.dataset.warning = key;
      tr.dataset.count = entry.machines;
      tr.tabIndex = 0;
      tr.appendChild(element("td", "key", key));
      tr.appendChild(element("td", "num", count(entry.machines)));
      const meaning = element("td", null, meanings.get(key) || "");
      const sentences = [...entry.sentences.entries()].sort((a, b) => b[1] - a[1]);
      const details = element("details");
      details.appendChild(element("summary", null, plural(sentences.length, "sentence", "sentences") + " on the machines"));
      const list = element("ul");
      for (const [sentence, n] of sentences.slice(0, SENTENCES_SHOWN)) list.appendChild(element("li", null, count(n) + " \u00D7 " + sentence));
      if (sentences.length > SENTENCES_SHOWN) list.appendChild(element("li", null, "\u2026 " + count(sentences.length - SENTENCES_SHOWN) + " more"));
      details.appendChild(list);
      details.addEventListener("click", (event) => event.stopPropagation());
      meaning.appendChild(details);
      tr.appendChild(meaning);
      onActivate(tr, () => select("warning " + key, (m) => m.keys.includes(key)));
      body.appendChild(tr);
    }
    table.appendChild(body);
    holder.appendChild(table);
  }

  // ---- The header line, the records no machine matched, saving as CSV -----
  function drawHeader() {
    const h = data.header;
    const made = document.getElementById("made");
    made.textContent = "Made " + h.made + " by bios-update-select-fleet " + h.version +
                       ". Kits: " + h.kits + ". Options: " + h.options + ".";
    for (const key of ["made", "version", "kits", "options"]) made.dataset[key] = h[key];
  }

  function drawUnmatched() {
    if (!data.records) return;
    const section = document.getElementById("unmatched");
    section.hidden = false;
    const n = data.unmatched.count;
    const counted = document.getElementById("unmatched-count");
    counted.dataset.count = n;
    counted.textContent = n ? plural(n, "record matches", "records match") + " no machine." :
                              "Every record matches a machine.";
    const list = document.getElementById("unmatched-list");
    for (const line of data.unmatched.lines) list.appendChild(element("li", "mono", line));
  }

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

  drawHeader();
  drawUnmatched();
  drawTotals();
  drawKits();
  drawRollout();
  drawProducts();
  drawWarnings();
  drawHead();
  applyFilter();
  // When the first frame after drawing is out: the load-and-draw time.
  requestAnimationFrame(() => setTimeout(() => {
    document.documentElement.dataset.drawnMs = Math.round(performance.now());
  }, 0));
})();
