// The page's drawing helpers: elements, bars and their colours, counts, and
// the natural order every list of versions and names is sorted in. Every
// text from the data reaches the page through text nodes and attribute
// values only, never as markup.

const SVG = "http://www.w3.org/2000/svg";

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
