// The summaries above the table: the header line, the totals, a bar per kit
// split by outcome and, with records, the rollout's states. Each count a
// click can open selects those machines in the table (select, in
// report_page_table.js).

// ---- The header line and the totals -------------------------------------
function drawHeader() {
  const h = data.header;
  const made = document.getElementById("made");
  made.textContent = "Made " + h.made + " by bios-update-select-fleet " + h.version +
                     ". Kits: " + h.kits + ". Options: " + h.options + ".";
  for (const key of ["made", "version", "kits", "options"]) made.dataset[key] = h[key];
}

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
