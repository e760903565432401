// The fleet report page's script, second part: the totals, a bar per kit
// split by outcome, the installed versions per product and the warnings,
// each of them a way to select machines in the table (report_page_table.cpp,
// whose function this part closes). The summaries count machines from the
// same rows the table shows, so a number and the machines a click on it
// lists cannot disagree.
#include "fleet/report_page_assets.h"

namespace fleet {

const char PAGE_SCRIPT_SUMMARY[] = R"js(
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
    add("machines", machines.length, { "data-total": "machines" }, "every machine", () => true);
    for (const outcome of orderedOutcomes(outcomes)) {
      const n = outcomes.get(outcome);
      add(outcome, n, { "data-total": "outcome", "data-outcome": outcome },
          outcome + " (with the machine's one kit)", (m) => machineOutcome(m) === outcome);
    }
    for (const [label, key] of [[SEVERAL, "several-kits"], [NO_KIT, "no-kit"], [NOT_SMBIOS, "error"]]) {
      add(label, machines.filter((m) => machineOutcome(m) === label).length, { "data-total": key }, label,
          (m) => machineOutcome(m) === label);
    }
    document.getElementById("subtitle").textContent = plural(machines.length, "machine", "machines") +
      " against " + plural(kits.length, "kit", "kits") + ".";
  }

  // ---- Kit bars -----------------------------------------------------------
  function drawKits() {
    const perKit = kits.map(() => new Map());
    for (const m of machines) {
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
        plural(totals[k], "machine", "machines")));
      const parts = orderedOutcomes(perKit[k]).map((outcome) => ({
        label: kit.name + ", " + outcome, count: perKit[k].get(outcome), colour: colourOf(outcome),
        attributes: { "data-kit": k, "data-outcome": outcome },
        select: () => select(kit.name + ", " + outcome,
                             (m) => m.runs.some((run) => run.kit === k && run.outcome === outcome)),
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
      if (m.error !== null) continue;
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
          select: () => select(label, (m) => m.error === null && productKey(m.product) === productName &&
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
)js";

}  // namespace fleet
