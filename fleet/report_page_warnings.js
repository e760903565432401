// The warnings, each with its meaning, how many machines have it and the
// sentences they gave; and, with records, the records that match no machine.

const SENTENCES_SHOWN = 10;

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
