// The BIOS versions installed per product, beside the Version= of the kits
// that serve it; a click on a version's bar selects its machines.

const PRODUCTS_SHOWN = 100;
const VERSIONS_SHOWN = 25;

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
