// The first part of the fleet report page's script: the page's data and a
// model of each machine. The build joins the script's parts, in the order
// fleet/sources.cmake lists them, into one function body that runs once in
// a private scope: names declared here are shared by the later parts and
// reach nothing outside the page's script. This part reads the page's JSON
// (a string table, the kits, the warnings' meanings, the names of the
// columns and one array of indices per machine, in the columns' order) into
// one object per machine, and from those the table's cells. The summaries
// count machines from the same objects the table shows, so a number and the
// machines a click on it lists cannot disagree.

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
// The outcomes every kit's bar shows first (the old script, the new one,
// none), in this order and colour; any other (several scripts in one run)
// follows in its own colour.
const OUTCOMES = data.outcomes.map(
  (name, index) => [name, ["var(--old)", "var(--new)", "var(--none)"][index]]);
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
