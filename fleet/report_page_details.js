// One machine's details, opened by a click on (or Enter in) its row of the
// table: its facts and hardware IDs, its runs under each kit that serves it,
// its latest record and its warnings.

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
        (kit.identity === null ? "\nno " + data.sums_name : "\nkit_sha256 " + kit.identity));
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
