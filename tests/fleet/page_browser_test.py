#!/usr/bin/python3
"""The fleet report's page in a real browser (headless Chromium).

Makes a fleet (the dump corpus, plus machines whose product, maker and BIOS
version are hostile texts, in files whose names are hostile too) and a
folder of kits (one of them named with markup and a tab), runs the built
bios-update-select-fleet on it twice, --format json and --format html, opens
the page from disk and checks, in one browser:

  * no console errors, no alert, no element or script that the data made;
  * the totals, each kit's bar, the versions per product and the warnings'
    counts equal what the JSON report says about the same machines;
  * the filter, the sort and a click on a bar, a version, a total or a
    warning show exactly the right machines;
  * hostile texts appear as text, byte for byte as the page shows texts
    (control bytes as \\xHH, bytes that are not UTF-8 as U+FFFD).

A failing case keeps a screenshot in WORK/failures/ and prints its path.

    page_browser_test.py --fleet PATH --work DIR

Exits 77 (skipped) on a machine without chromium, chromium-driver or
python3-selenium; run it with Debian's /usr/bin/python3, where
python3-selenium is importable.
"""

import argparse
import collections
import csv
import functools
import hashlib
import json
import os
import re
import shutil
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from page_browser import (REPO, SKIPPED, Failure, dumps, missing_browser, open_page,  # noqa: E402
                          run_report, start_browser, write)

BULK_MACHINES = 160

# Texts that would run or break markup if the page ever read one as HTML.
SCRIPT_PRODUCT = b"<script>window.__pwned='product';alert(1)</script>"
IMG_VENDOR = b"\"'&<img src=x onerror=\"window.__pwned='vendor'\">"
CONTROL_VERSION = b"\x01\x1b[31mA05\xff\xfe"
LATIN1_PRODUCT = b"Caf\xe9 <b>bold</b> & 'more'"
SEPARATOR_PRODUCT = "Line\u2028Sep</script>".encode("utf-8")
HOSTILE_KIT = "kit-<img src=x onerror=\"window.__pwned='kit'\">&'"
HOSTILE_FILE = "<svg onload=\"window.__pwned='file'\">.bin"
HOSTILE_RECORDS = "<img src=x onerror=\"window.__pwned='records'\">.jsonl"
HOSTILE_MESSAGE = "<script>window.__pwned='message'</script>\x1b[2J & \u2028 done"
HOSTILE_TIME = "<b>2026-01-02T03:04:05Z</b>"
STATES = ["at-target", "started-still-below", "refused", "not-visited"]


def check(condition, message):
    if not condition:
        raise Failure(message)


def equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: the page shows %r, the JSON report says %r" % (what, actual, expected))


# ---- What the page should show, from the JSON report -------------------------

def shown(text):
    """A text as the page shows it: control characters as \\xHH (the JSON
    report has already replaced bytes that are not UTF-8)."""
    return re.sub(r"[\x00-\x1f\x7f]", lambda m: "\\x%02X" % ord(m.group()), text)


def outcome(scripts):
    return " + ".join(scripts) if scripts else "no script"


def runs_of(row):
    """(kit folder, scripts) of every run of a machine."""
    if row.get("error") is not None or row["kit"] is None:
        return []
    if isinstance(row["kit"], list):
        return [(run["kit"], run["scripts"]) for run in row["runs"]]
    return [(row["kit"], row["scripts"])]


def product_key(name):
    """A product as the page groups them: trailing blanks and tabs aside."""
    return re.sub(r"(?: |\\x09)+$", "", name)


def repeat(row):
    """Whether the row's input holds a machine an earlier input holds: the
    page lists it and counts the machine once, under the earlier one."""
    return "same-machine" in (row.get("warning_keys") or [])


def rollout_state(row):
    """The state the page counts a machine under: its rollout state, "other"
    when one kit serves it and none applies, None without one kit (and for
    a repeated machine)."""
    if "error" in row or row["kit"] is None or isinstance(row["kit"], list) or repeat(row):
        return None
    return row.get("rollout") or "other"


def expected_summary(report):
    totals, kits, warnings = collections.Counter(), collections.defaultdict(collections.Counter), \
        collections.Counter()
    products = collections.defaultdict(collections.Counter)
    for row in report:
        for key in set(row.get("warning_keys") or []):
            warnings[shown(key)] += 1
        if repeat(row):
            totals["repeat"] += 1
            continue
        totals["machines"] += 1
        state = rollout_state(row)
        if state is not None:
            totals["rollout " + state] += 1
        if "error" in row:
            totals["error"] += 1
            continue
        if row["kit"] is None:
            totals["no-kit"] += 1
        elif isinstance(row["kit"], list):
            totals["several-kits"] += 1
        else:
            totals["outcome " + outcome(row["scripts"])] += 1
        for folder, scripts in runs_of(row):
            kits[shown(folder)][outcome(scripts)] += 1
        if row["product"] is not None:
            version = "(no BIOS version)" if row["bios_version"] is None else shown(row["bios_version"])
            products[product_key(shown(row["product"]))][version] += 1
    return totals, kits, warnings, products


def searchable(row):
    """The texts of a machine's cells that these tests filter on: input,
    maker, product, BIOS version, kits and warnings' keys (the outcome
    columns never hold the texts searched for)."""
    if "error" in row:
        return [shown(row["input"]), shown(row["error"])]
    texts = [row["input"], row["manufacturer"], row["product"], row["bios_version"]]
    texts += [folder for folder, _ in runs_of(row)] + list(row["warning_keys"])
    return [shown(t) for t in texts if t is not None]


def matches(row, query):
    return any(query.lower() in text.lower() for text in searchable(row))


def natural_compare(a, b):
    """The page's sort order: case ignored first, digit runs by value, ties
    by the exact texts (UTF-16 code units; these tests sort ASCII texts)."""
    x, y = a.lower(), b.lower()
    i = j = 0
    while i < len(x) and j < len(y):
        if x[i].isdigit() and y[j].isdigit() and x[i] < "\x80" and y[j] < "\x80":
            end_x, end_y = i, j
            while end_x < len(x) and "0" <= x[end_x] <= "9":
                end_x += 1
            while end_y < len(y) and "0" <= y[end_y] <= "9":
                end_y += 1
            while i < end_x - 1 and x[i] == "0":
                i += 1
            while j < end_y - 1 and y[j] == "0":
                j += 1
            if end_x - i != end_y - j:
                return (end_x - i) - (end_y - j)
            if x[i:end_x] != y[j:end_y]:
                return -1 if x[i:end_x] < y[j:end_y] else 1
            i, j = end_x, end_y
        else:
            if x[i] != y[j]:
                return ord(x[i]) - ord(y[j])
            i += 1
            j += 1
    if len(x) - i != len(y) - j:
        return (len(x) - i) - (len(y) - j)
    return (a > b) - (a < b)


# ---- The fleet -----------------------------------------------------------------

def kit(folder, config):
    write(os.path.join(folder, "UpdateConfig.ini"), config.encode("utf-8") if isinstance(config, str)
          else config)
    for script in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
        write(os.path.join(folder, script), b"echo test kit\r\n")


def make_fleet(work):
    """The machines (the corpus and the hostile ones) and the kits."""
    machines = os.path.join(work, "machines")
    shutil.rmtree(machines, ignore_errors=True)
    shutil.copytree(os.path.join(REPO, "tests", "data", "dumps"), machines,
                    ignore=shutil.ignore_patterns("*.json"))
    maker = dumps.desktop_structures(b"2.10", vendor=IMG_VENDOR)
    maker[1] = dumps.system_information(0x0001, IMG_VENDOR, b"Model7 Tower", b"1.0", b"SN1", b"SKU",
                                        b"Model7")
    hostile = [
        (HOSTILE_FILE, dumps.desktop_structures(b"1.26", product=SCRIPT_PRODUCT)),
        ("maker.bin", maker),
        ("control.bin", dumps.desktop_structures(CONTROL_VERSION, product=LATIN1_PRODUCT)),
        ("separator.bin", dumps.desktop_structures(b"1.27", product=SEPARATOR_PRODUCT)),
    ]
    for name, structures in hostile:
        write(os.path.join(machines, "hostile", name), dumps.dump_2x(structures))
    # A file name that is not UTF-8 (a path is bytes to Linux).
    write(os.path.join(os.fsencode(machines), b"hostile", b"latin1-caf\xe9.bin"),
          dumps.dump_2x(dumps.desktop_structures(b"1.26")))
    write(os.path.join(machines, "not-smbios.bin"), b"<html>not a dump</html>\n")
    # Enough machines that the table cannot draw them all at once.
    for n, version in enumerate([b"1.%02d" % (n % 40) for n in range(BULK_MACHINES)]):
        structures = dumps.desktop_structures(version)
        structures[1] = dumps.system_information(0x0001, b"Acme Corporation", b"Model7 Tower", b"1.0",
                                                 b"DESK-%03d" % n, b"SKU-M7T", b"Model7")
        write(os.path.join(machines, "bulk", "desk-%03d.bin" % n), dumps.dump_2x(structures))
    # One model whose name some machines give with trailing blanks.
    for n, product in enumerate([b"AS-2200 R4 ", b"AS-2200 R4\t \t"]):
        structures = dumps.server_structures(b"2.17.1")
        structures[1] = dumps.system_information(0x0100, b"Acme Servers Inc.", product, b"Rev 4",
                                                 b"SRV-B%d" % n, b"AS2200R4-BASE", b"AS-2200")
        write(os.path.join(machines, "blanks", "server-%d.bin" % n), dumps.dump_2x(structures))
    # Machines with UUIDs of their own, for the records to join.
    for n, (name, version) in enumerate([("target", b"2.10"), ("started", b"1.20"),
                                         ("refused", b"1.20")]):
        structures = dumps.desktop_structures(version)
        body = bytes([1, 2, 3, 4]) + bytes(range(0x40 + 16 * n, 0x50 + 16 * n)) + bytes([6, 5, 6])
        structures[1] = dumps.structure(1, 0x0001, body, [b"Acme Corporation", b"Model7 Tower", b"1.0",
                                                          b"RS-%d" % n, b"SKU-M7T", b"Model7"])
        write(os.path.join(machines, "rollout", name + ".bin"), dumps.dump_2x(structures))
    kits = os.path.join(work, "kits")
    shutil.rmtree(kits, ignore_errors=True)
    kit(os.path.join(kits, "model7"), "ProductName=Model7*\r\nVersion=2\r\n")
    kit(os.path.join(kits, "as-2200"), "ProductName=AS-2200*\r\nVersion=2.17.1\r\n")
    # One kit with a SHA256SUMS, as make-kit-image writes it: it has an identity.
    folder = os.path.join(kits, "as-2200")
    sums = "".join("%s  %s\n" % (hashlib.sha256(open(os.path.join(folder, name), "rb").read()).hexdigest(),
                                 name) for name in sorted(os.listdir(folder)))
    write(os.path.join(folder, "SHA256SUMS"), sums.encode("ascii"))
    # Both match every Notebook 1x: those machines are served by two kits.
    kit(os.path.join(kits, "notebook-a"), "ProductName=Notebook*\r\nVersion=1\r\n")
    kit(os.path.join(kits, "notebook-b"), "ProductName=Notebook 1*\r\nVersion=G1ET46WW (1.21 )\r\n")
    kit(os.path.join(kits, HOSTILE_KIT), b"ProductName=" + SCRIPT_PRODUCT + b"\r\nVersion=<b>2</b>\r\n")
    return machines, kits


# ---- The browser -----------------------------------------------------------------

class Page:
    """What the page shows, read from its DOM."""

    def __init__(self, driver):
        self.driver = driver
        self.logs = []

    def script(self, text, *args):
        return self.driver.execute_script(text, *args)

    def find(self, css):
        return self.driver.find_element("css selector", css)

    def read_logs(self):
        self.logs += self.driver.get_log("browser")
        return self.logs

    def totals(self):
        return self.script("""
            const totals = {};
            for (const box of document.querySelectorAll('[data-total]')) {
              const key = box.dataset.total === 'outcome' ? 'outcome ' + box.dataset.outcome :
                          box.dataset.total === 'rollout' ? 'rollout ' + box.dataset.state : box.dataset.total;
              totals[key] = Number(box.dataset.count);
            }
            return totals;""")

    def kit_bars(self):
        return self.script("""
            const kits = {};
            for (const row of document.querySelectorAll('#kit-bars .bar-row')) {
              const label = row.querySelector('.mono');
              if (!label) continue;
              const parts = {};
              for (const rect of row.querySelectorAll('rect')) parts[rect.dataset.outcome] = Number(rect.dataset.count);
              kits[label.textContent] = parts;
            }
            return kits;""")

    def warnings(self):
        return self.script("""
            const counts = {};
            for (const row of document.querySelectorAll('tr.warning')) counts[row.dataset.warning] = Number(row.dataset.count);
            return counts;""")

    def products(self):
        return self.script("""
            const products = {};
            for (const block of document.querySelectorAll('.product')) {
              const name = block.querySelector('.product-name');
              if (!('product' in name.dataset)) continue;
              // Pairs, not an object: the driver hands objects over with their keys sorted.
              const versions = [...block.querySelectorAll('.version')].map(
                (version) => [version.querySelector('.version-text').textContent, Number(version.dataset.machines)]);
              products[name.dataset.product] = [versions, Number(block.dataset.moreVersions || 0)];
            }
            return products;""")

    def rows(self):
        """Every machine the table holds, in its order, as cells. The table
        draws only the rows in view and a few more, so this scrolls through
        it a view at a time, as a person would, and puts each drawn row where
        the window says it is."""
        cells = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const scroller = document.getElementById('table-scroll');
            const shown = document.getElementById('shown');
            const rows = new Array(Number(shown.dataset.shown)).fill(null);
            const read = () => {
              const first = Number(shown.dataset.first);
              document.querySelectorAll('#machine-rows tr.machine').forEach((tr, n) => {
                rows[first + n] = [...tr.cells].map((td) => td.textContent);
              });
            };
            const step = () => {
              read();
              if (scroller.scrollTop + scroller.clientHeight >= scroller.scrollHeight - 1) {
                scroller.scrollTop = 0;
                requestAnimationFrame(() => requestAnimationFrame(() => done(rows)));
                return;
              }
              scroller.scrollTop += scroller.clientHeight;
              requestAnimationFrame(() => requestAnimationFrame(step));
            };
            step();""")
        count = int(self.find("#shown").get_attribute("data-shown"))
        missing = [n for n, row in enumerate(cells) if row is None]
        check(len(cells) == count and not missing, "%d machines match; rows never drawn: %r"
              % (count, missing[:10]))
        return cells, count

    def filter(self, text):
        box = self.find("#filter")
        box.clear()
        if text:
            box.send_keys(text)
        else:  # clear() sends no input event
            self.script("const f = document.getElementById('filter'); f.value = '';"
                        "f.dispatchEvent(new Event('input'));")

    def clear_selection(self):
        buttons = self.driver.find_elements("css selector", "#selection button")
        if buttons:
            buttons[0].click()

    def sort(self, title):
        for button in self.driver.find_elements("css selector", "#machine-head button"):
            if button.text == title:
                button.click()
                return
        raise Failure("no column %r" % title)


COLUMN = {"input": 0, "manufacturer": 1, "product": 2, "bios": 3, "kit": 4, "outcome": 5}


# ---- The cases ---------------------------------------------------------------------

def case_summary_equals_the_json_report(page, report):
    totals, kits, warnings, products = expected_summary(report)
    shown_totals = page.totals()
    for key in set(shown_totals) | set(totals):
        equal(shown_totals.get(key), totals.get(key, 0), "total %r" % key)
    check(totals["several-kits"] and totals["no-kit"] and totals["error"] and totals["repeat"],
          "the fleet should hold machines of every kind: %r" % dict(totals))
    bars = page.kit_bars()
    check(len(bars) == 5, "a bar for each of the five kits, got %r" % sorted(bars))
    equal({name: parts for name, parts in bars.items() if parts},
          {name: dict(parts) for name, parts in kits.items()}, "kit bars")
    equal(page.warnings(), dict(warnings), "machines per warning")
    # A product lists its versions in order, the first so many of them, and
    # says how many more it holds.
    shown_products = page.products()
    equal(sorted(shown_products), sorted(products), "products")
    capped = 0
    for product, (versions, more) in shown_products.items():
        order = sorted(products[product], key=functools.cmp_to_key(natural_compare))
        order = [v for v in order if v != "(no BIOS version)"]
        if "(no BIOS version)" in products[product]:
            order.insert(0, "(no BIOS version)")  # sorts as the empty text
        equal([v for v, _ in versions], order[:len(versions)], "%r's versions in order" % product)
        equal(dict(versions), {v: products[product][v] for v, _ in versions}, "%r's versions" % product)
        equal(len(versions) + more, len(order), "%r's versions, those listed and the rest" % product)
        capped += bool(more)
    check(capped, "a product with more versions than the page lists")


def saved_csv(page):
    """Clicks the page's CSV button; the file it saved, as text."""
    target = os.path.join(page.work, "downloads")
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    page.driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": target})
    page.find("#save-csv").click()
    path = os.path.join(target, "fleet-rows.csv")
    for _ in range(200):
        if os.path.exists(path) and not any(n.endswith(".crdownload") for n in os.listdir(target)):
            break
        time.sleep(0.05)
    check(os.path.exists(path), "the CSV button saved no fleet-rows.csv: %r" % os.listdir(target))
    with open(path, "rb") as f:
        return f.read().decode("utf-8")


def case_filter_shows_the_matching_machines(page, report):
    for query in ["Notebook 13", "<script>", "as-2200", "\\x1B", "zzz-nothing"]:
        page.filter(query)
        cells, count = page.rows()
        expected = [shown(r["input"]) for r in report if matches(r, query)]
        equal(count, len(expected), "machines matching %r" % query)
        equal(sorted(row[0] for row in cells), sorted(expected), "inputs matching %r" % query)
        if query == "as-2200":
            # What the filter shows, saved: the CSV form's own lines for them.
            form = page.csv.split("\r\n")
            wanted = {shown(r["input"]) for r in report if matches(r, query)}
            lines = [line for line in form[1:-1]
                     if next(csv.reader([line]))[0].lstrip("'") in wanted]
            equal(saved_csv(page), "\r\n".join([form[0]] + lines) + "\r\n",
                  "the saved rows matching %r" % query)
    page.filter("")
    equal(page.rows()[1], len(report), "machines after the filter is cleared")
    # Every row, saved: --format csv byte for byte, its quoting and escapes included.
    equal(saved_csv(page), page.csv, "every row saved as CSV")


def case_sort_orders_by_any_column(page, report):
    for title, column, key in [("BIOS version", COLUMN["bios"], "bios_version"),
                               ("Input", COLUMN["input"], "input")]:
        values = sorted((shown(r.get(key) or "") for r in report),
                        key=functools.cmp_to_key(natural_compare))
        page.sort(title)
        cells, count = page.rows()
        equal([row[column] for row in cells], values[:len(cells)], "%s ascending" % title)
        page.sort(title)
        cells, count = page.rows()
        equal([row[column] for row in cells], values[::-1][:len(cells)], "%s descending" % title)
    # 1.9 before 1.10 is what a firmware engineer expects of versions.
    check(natural_compare("1.9", "1.10") < 0 and natural_compare("A05", "A7") < 0, "natural order")


def case_clicks_filter_the_table(page, report):
    def clicked(css, what, expected_inputs):
        element = page.find(css)
        # Away from the table's sticky head, whatever lies above the element.
        page.script("arguments[0].scrollIntoView({block: 'center'})", element)
        element.click()
        cells, count = page.rows()
        equal(count, len(expected_inputs), what)
        equal(sorted(row[0] for row in cells), sorted(expected_inputs), what + ": the machines")
        page.clear_selection()
        equal(page.rows()[1], len(report), "machines after %s is cleared" % what)

    index = page.script("""return [...document.querySelectorAll('#kit-bars .bar-row')].findIndex(
        (row) => (row.querySelector('.mono') || {}).textContent?.endsWith('/model7'));""")
    check(index >= 0, "a bar for the model7 kit")
    old = [shown(r["input"]) for r in report for folder, scripts in runs_of(r)
           if folder.endswith("/model7") and outcome(scripts) == "UpdateHWOld.nsh" and not repeat(r)]
    check(old, "machines that get UpdateHWOld.nsh from the model7 kit")
    clicked("#kit-bars .bar-row:nth-child(%d) rect[data-outcome='UpdateHWOld.nsh']" % (index + 1),
            "the model7 kit's UpdateHWOld.nsh part", old)
    clicked("tr.warning[data-warning='several-kits']", "the several-kits warning",
            [shown(r["input"]) for r in report if "several-kits" in r.get("warning_keys", [])])
    clicked("[data-total='no-kit']", "the without-a-kit total",
            [shown(r["input"]) for r in report if "error" not in r and r["kit"] is None and not repeat(r)])
    clicked("rect[data-bar='error']", "the not-SMBIOS bar",
            [shown(r["input"]) for r in report if "error" in r])
    # A version of a product: the server's 2.17.1.
    version = page.script("""
        for (const block of document.querySelectorAll('.product')) {
          if (block.querySelector('.product-name').dataset.product !== 'AS-2200 R4') continue;
          const versions = [...block.querySelectorAll('.version')];
          const index = versions.findIndex((v) => v.querySelector('.version-text').textContent === '2.17.1');
          if (index >= 0) { versions[index].nextElementSibling.querySelector('rect').id = 'clicked-version'; return true; }
        }
        return false;""")
    check(version, "the AS-2200 R4 product shows version 2.17.1")
    clicked("#clicked-version", "version 2.17.1 of AS-2200 R4",
            [shown(r["input"]) for r in report
             if product_key(shown(r.get("product") or "")) == "AS-2200 R4"
             and r.get("bios_version") == "2.17.1" and not repeat(r)])
    # The inputs that repeat a machine: listed, and counted once.
    clicked("[data-total='repeat']", "the inputs that repeat a machine",
            [shown(r["input"]) for r in report if repeat(r)])


def case_hostile_texts_are_text(page, report):
    from selenium.common.exceptions import NoAlertPresentException
    page.filter("")
    expected = {
        "product": shown(SCRIPT_PRODUCT.decode()),
        "vendor": shown(IMG_VENDOR.decode()),
        "latin1": "Caf\ufffd <b>bold</b> & 'more'",
        "control": "\\x01\\x1B[31mA05\ufffd\ufffd",
        "separator": "Line\u2028Sep</script>",
        "kit": ">&'",
    }
    cells, _ = page.rows()
    texts = {text for row in cells for text in row}
    for what in ("product", "vendor", "latin1", "control", "separator"):
        check(expected[what] in texts, "%s shown as text: %r not in the table" % (what, expected[what]))
    check(any(row[COLUMN["input"]].endswith(HOSTILE_FILE) for row in cells), "the hostile file name")
    check(any(expected["kit"] in row[COLUMN["kit"]] and "<img" in row[COLUMN["kit"]] for row in cells),
          "the hostile kit folder")
    # Open every hostile machine's details: its sentences are drawn too. A
    # click draws the rows again, so each is looked up afresh.
    page.filter("/hostile/")
    cells, count = page.rows()
    check(count == 5, "five hostile machines, got %d" % count)
    check(any(row[COLUMN["input"]].endswith("/latin1-caf\ufffd.bin") for row in cells),
          "a file name that is not UTF-8: %r" % [row[0] for row in cells])
    details = []
    for n in range(count):
        page.driver.find_elements("css selector", "#machine-rows tr.machine")[n].click()
        details.append(page.find("#machine-details").get_attribute("textContent"))
    check(any(expected["product"] in text for text in details),
          "the product in a warning's sentence, as text: %r" % details)
    check(any(expected["control"] in text for text in details), "the control bytes in the details")
    # Nothing ran, nothing was made.
    try:
        page.driver.switch_to.alert
        raise Failure("an alert is open")
    except NoAlertPresentException:
        pass
    equal(page.script("return window.__pwned === undefined ? null : window.__pwned"), None,
          "a hostile text ran")
    equal(page.script("return document.querySelectorAll('script').length"), 2, "script elements")
    equal(page.script("return document.querySelectorAll('img, iframe, object, embed, b, body svg svg').length"),
          0, "elements made from the data")
    equal(page.script("return document.querySelectorAll('[onerror], [onload]').length"), 0,
          "event attributes made from the data")


def case_products_differing_by_trailing_blanks_are_one(page, report):
    page.filter("")
    spellings = page.script("""
        for (const block of document.querySelectorAll('.product')) {
          if (block.querySelector('.product-name').dataset.product !== 'AS-2200 R4') continue;
          const also = block.querySelector('.spellings');
          return also ? [Number(also.dataset.spellings), also.textContent] : [0, ''];
        }
        return null;""")
    check(spellings is not None, "the AS-2200 R4 product")
    equal(spellings[0], 2, "spellings of AS-2200 R4 besides its own: %r" % spellings[1])
    check("\u201cAS-2200 R4 \u201d" in spellings[1] and "R4\\x09 \\x09" in spellings[1],
          "the spellings as text: %r" % spellings[1])
    check(not any(name.startswith("AS-2200 R4") and name != "AS-2200 R4" for name in page.products()),
          "a product of its own for a name with trailing blanks")


def case_machine_details_and_long_paths(page, report):
    """A machine's details give its product and BIOS version whole; a long
    path is cut at its start, so its end shows."""
    page.filter("/blanks/server-1")
    page.driver.find_elements("css selector", "#machine-rows tr.machine")[0].click()
    pairs = page.script("""
        const list = [...document.querySelectorAll('#machine-details dt')];
        return list.map((dt) => [dt.textContent, dt.nextElementSibling.textContent]);""")
    terms = dict(pairs)
    equal(terms.get("Product"), "AS-2200 R4\\x09 \\x09", "the product in the details")
    equal(terms.get("BIOS version"), "2.17.1", "the BIOS version in the details")
    # Its hardware IDs, each where the JSON report has it, and the button
    # that copies them.
    row = next(r for r in report if "/blanks/server-1" in r["input"])
    hwids_text = terms.get("Hardware IDs Copy", "")
    check(len(row["hardware_ids"]) > 0, "hardware IDs in the JSON report: %r" % row)
    for i in range(15):
        name = "HardwareID-%d" % i
        line = "%s: {%s}" % (name, row["hardware_ids"][name]) if name in row["hardware_ids"] \
            else "%s: absent" % name
        check(line in hwids_text, "%r in the details: %r" % (line, hwids_text))
    for field, value in row["hardware_id_fields"].items():
        check('%s: "' % field in hwids_text, "the field %s in the details: %r" % (field, hwids_text))
    button = page.driver.find_element("css selector", "#machine-details dt button.copy")
    button.click()  # a user's click: the clipboard answers only to one
    copied = page.driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const button = document.querySelector('#machine-details dt button.copy');
        const start = Date.now();
        (function wait() {
          if (button.textContent !== "Copy" || Date.now() - start > 3000) done(button.textContent);
          else setTimeout(wait, 50);
        })();""")
    equal(copied, "Copied", "the copy button's answer")
    server = [r for r in report if r["input"].endswith("/blanks/server-1.bin")][0]
    equal(terms.get("Serial number"), "SRV-B1", "the serial number in the details")
    equal(terms.get("UUID"), server["uuid"] or "\u2013", "the UUID in the details")
    # Serial and UUID as columns, on request; the filter finds a machine by them either way.
    equal(page.script("return [...document.querySelectorAll('#machine-head th')].map((th) => th.textContent)"
                      ".filter((t) => t === 'Serial' || t === 'UUID')"), [], "identity columns at first")
    page.filter("SRV-B1")
    cells, count = page.rows()
    equal([row[0] for row in cells], [shown(server["input"])], "the machine found by its serial")
    page.find("#identity-columns").click()
    cells, count = page.rows()
    equal(cells[0][-2:], ["SRV-B1", server["uuid"] or ""], "the serial and UUID columns")
    page.find("#identity-columns").click()
    # The product column keeps each product name whole (the names here are short enough).
    page.filter("")
    cut = page.script("""
        const cut = [];
        for (const tr of document.querySelectorAll('#machine-rows tr.machine')) {
          const td = tr.cells[2];
          if (td.textContent.length <= 24 && td.scrollWidth > td.clientWidth) cut.push(td.textContent);
        }
        return cut;""")
    equal(cut, [], "product names cut in their column")
    page.filter("/bulk/")
    cut = page.script("""
        const results = [];
        for (const tr of document.querySelectorAll('#machine-rows tr.machine')) {
          const td = tr.cells[0], text = td.firstChild, cell = td.getBoundingClientRect();
          const range = document.createRange();
          range.selectNodeContents(text);
          const box = range.getBoundingClientRect();
          results.push([text.textContent, box.left < cell.left, box.right <= cell.right + 0.5]);
        }
        return results;""")
    check(cut, "bulk rows drawn")
    check(all(end for _, _, end in cut), "a path's end cut off: %r" % cut[:3])
    check(all(start for _, start, _ in cut), "paths this long overflow their cell at the start: %r" % cut[:3])
    page.filter("")


def case_kit_identity_in_details_and_kit_bars(page, report):
    """The planned kit's identity (kit_sha256, as the JSON report gives it)
    in a machine's details, and short in its kit's bar; a kit without
    SHA256SUMS says so and has none."""
    server = next(r for r in report if r["input"].endswith("/blanks/server-1.bin"))
    identity = server["kit_sha256"]
    check(identity is not None and re.fullmatch(r"[0-9a-f]{64}", identity), "the identity: %r" % server)
    def open_details(query):
        page.filter(query)
        page.script("const close = document.querySelector('#machine-details button.close');"
                    "if (close) close.click();")
        page.driver.find_elements("css selector", "#machine-rows tr.machine")[0].click()
    open_details("/blanks/server-1")
    terms = dict(page.script("""
        const list = [...document.querySelectorAll('#machine-details dt')];
        return list.map((dt) => [dt.textContent, dt.nextElementSibling.textContent]);"""))
    kit_terms = [value for term, value in terms.items() if term.startswith("Kit ")]
    equal(len(kit_terms), 1, "the machine's kits in its details")
    check(kit_terms[0].endswith("\nkit_sha256 " + identity), "the kit's identity: %r" % kit_terms[0])
    desktop = next(r for r in report if r["input"].endswith("/bulk/desk-000.bin"))
    equal(desktop["kit_sha256"], None, "a kit without SHA256SUMS in the JSON report")
    open_details("/bulk/desk-000")
    details = page.find("#machine-details").get_attribute("textContent")
    check("no SHA256SUMS" in details and "kit_sha256" not in details, "no identity: %r" % details)
    labels = page.script("""
        return [...document.querySelectorAll('#kit-bars .bar-label')].map(
            (label) => [label.querySelector('.mono') ? label.querySelector('.mono').textContent : '',
                        label.textContent]);""")
    short = "kit %s...%s" % (identity[:4], identity[-2:])
    check(any(name.endswith("/as-2200") for name, _ in labels), "the kit's bar: %r" % labels)
    for name, label in labels:
        if not name:
            continue
        if name.endswith("/as-2200"):
            check(short in label, "the kit's identity in its bar: %r" % label)
        else:
            check(" kit " not in label.replace(name, ""), "an identity for a kit without one: %r" % label)
    page.filter("")


def case_a_fleet_with_nothing_readable(page, report):
    """A page whose only input is not SMBIOS data still draws, and says so."""
    path = os.path.join(page.work, "nothing.html")
    run_report(page.fleet, page.kits, os.path.join(page.machines, "not-smbios.bin"), "html", path)
    open_page(page.driver, path)
    totals = page.totals()
    equal(totals["machines"], 1, "machines")
    equal(page.script("return document.querySelector(\"[data-total='machines'] .label\").textContent"),
          "machine", "one machine's label")
    equal(totals["error"], 1, "inputs that are not SMBIOS data")
    equal(sum(n for key, n in totals.items() if key not in ("machines", "error")), 0, "other totals")
    cells, count = page.rows()
    check(count == 1 and cells[0][COLUMN["outcome"]].startswith("not SMBIOS data: "),
          "the input's row: %r" % cells)
    check("No machine's data" in page.find("#product-list").text, "the empty versions section")
    # Without records the page shows no rollout.
    equal(page.script("return document.getElementById('rollout').hidden"), True, "the rollout section")
    equal(page.script("return document.querySelectorAll(\"[data-total='rollout']\").length"), 0,
          "rollout totals")


def make_records(work, report):
    """Records that give the rollout machines their states, one of them with
    hostile texts, and one matching no machine; in a file whose name is
    hostile too."""
    uuids = {os.path.basename(r["input"]): r["uuid"] for r in report if "/rollout/" in r["input"]}
    check(len(uuids) == 3 and all(uuids.values()), "the rollout machines' UUIDs: %r" % uuids)
    base = {"manufacturer": "Acme Corporation", "product": "Model7 Tower", "options": "",
            "kit": "model7", "status": "0x0", "message": None}
    lines = [
        dict(base, time="2026-01-02T03:04:05Z", uuid=uuids["target.bin"], serial="RS-0",
             script="UpdateHWOld.nsh", ran=True),
        dict(base, time="2026-01-02T04:04:05Z", uuid=uuids["started.bin"], serial="RS-1",
             script="UpdateHWOld.nsh", ran=True),
        dict(base, time=HOSTILE_TIME, uuid=uuids["refused.bin"], serial="RS-2", script=None, ran=False,
             status="<0x15>", message=HOSTILE_MESSAGE),
        dict(base, time=None, uuid="00000000-1111-2222-3333-444444444444", serial="none",
             script=None, ran=False, message="nobody"),
    ]
    folder = os.path.join(work, "records")
    shutil.rmtree(folder, ignore_errors=True)
    write(os.path.join(folder, HOSTILE_RECORDS),
          b"".join(json.dumps(line).encode() + b"\n" for line in lines) + b"{cut short\n")
    return folder


def case_rollout_states(page, report):
    """The states' totals, a bar per kit and the filter by state equal the
    JSON report; the records' texts are text."""
    page.filter("")
    page.clear_selection()
    by_input = {shown(r["input"]): r for r in report}
    expected = {"target.bin": "at-target", "started.bin": "started-still-below", "refused.bin": "refused"}
    for r in report:
        name = os.path.basename(r["input"])
        if "/rollout/" in r["input"]:
            equal(r.get("rollout"), expected[name], "the JSON report's state of " + name)
    check(any(r.get("rollout") == "not-visited" for r in report), "machines never visited")
    equal(page.script("return document.getElementById('rollout').hidden"), False, "the rollout section")
    # A bar per kit, its parts the machines that kit alone serves, by state.
    per_kit = collections.defaultdict(collections.Counter)
    for r in report:
        if rollout_state(r) is not None:
            per_kit[shown(r["kit"])][rollout_state(r)] += 1
    bars = page.script("""
        const kits = {};
        for (const row of document.querySelectorAll('#rollout-bars .bar-row')) {
          const parts = {};
          for (const rect of row.querySelectorAll('rect')) parts[rect.dataset.state] = Number(rect.dataset.count);
          kits[row.querySelector('.mono').textContent] = parts;
        }
        return kits;""")
    equal(len(bars), 5, "rollout bars, one per kit")
    equal({k: v for k, v in bars.items() if v}, {k: dict(v) for k, v in per_kit.items()}, "rollout bars")
    # The filter by state, alone and with the text filter.
    for state in STATES + ["other", "no state"]:
        page.script("const s = document.getElementById('state-filter'); s.value = arguments[0];"
                    "s.dispatchEvent(new Event('change'));", state)
        check(page.script("return document.getElementById('state-filter').value") == state,
              "the filter offers %r" % state)
        cells, count = page.rows()
        want = sorted(shown(r["input"]) for r in report if (rollout_state(r) or "no state") == state)
        equal(sorted(row[0] for row in cells), want, "machines in state %r" % state)
    page.filter("/rollout/")
    cells, count = page.rows()
    equal(count, 0, "rollout machines in state 'no state'")
    page.script("const s = document.getElementById('state-filter'); s.value = '';"
                "s.dispatchEvent(new Event('change'));")
    cells, count = page.rows()
    equal(count, 3, "the rollout machines in every state")
    # A click on a state's total, and on a part of a kit's bar.
    page.filter("")
    page.find("[data-total='rollout'][data-state='refused']").click()
    cells, count = page.rows()
    equal(sorted(row[0] for row in cells),
          sorted(i for i, r in by_input.items() if r.get("rollout") == "refused"), "the refused total")
    page.script("const s = document.getElementById('state-filter'); s.value = '';"
                "s.dispatchEvent(new Event('change'));")
    rect = page.script("""
        for (const row of document.querySelectorAll('#rollout-bars .bar-row')) {
          if (!row.querySelector('.mono').textContent.endsWith('/model7')) continue;
          const rect = row.querySelector("rect[data-state='started-still-below']");
          if (rect) { rect.id = 'clicked-state'; return true; }
        }
        return false;""")
    check(rect, "the model7 kit's started-still-below part")
    page.find("#clicked-state").click()
    cells, count = page.rows()
    equal([row[0] for row in cells],
          [i for i, r in by_input.items() if r.get("rollout") == "started-still-below"], "the bar's part")
    page.clear_selection()
    # The refused machine's details: its record's texts, as text.
    page.filter("/rollout/refused")
    page.driver.find_elements("css selector", "#machine-rows tr.machine")[0].click()
    details = page.find("#machine-details").get_attribute("textContent")
    for text in (shown(HOSTILE_MESSAGE), HOSTILE_TIME, "<0x15>", HOSTILE_RECORDS, "refused"):
        check(text in details, "%r in the details: %r" % (text, details))
    check(any(row[-1] == "refused" for row in page.rows()[0]), "the Rollout column")
    page.filter("")
    equal(page.script("return window.__pwned === undefined ? null : window.__pwned"), None,
          "a record's text ran")
    equal(page.script("return document.querySelectorAll('img, b, [onerror]').length"), 0,
          "elements made from the records")


def case_header_and_unmatched_records(page, report):
    """The header line names what the report was made of; the records that
    matched no machine have a section of their own."""
    made = page.script("return Object.assign({}, document.getElementById('made').dataset)")
    equal(made.get("kits"), "--kits " + page.kits, "the kits' source in the header")
    equal(made.get("options"), "(none)", "the options in the header")
    check(re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d UTC", made.get("made", "")), "the time made: %r" % made)
    check(made.get("version") and made["version"] != "unknown", "the version: %r" % made)
    check(page.find("#made").text.startswith("Made "), "the header line")
    equal(page.script("return document.getElementById('unmatched').hidden"), False, "the unmatched section")
    equal(int(page.find("#unmatched-count").get_attribute("data-count")), 1, "records matching no machine")
    items = page.script("return [...document.querySelectorAll('#unmatched-list li')].map((li) => li.textContent)")
    check(len(items) == 1 and "serial none" in items[0] and HOSTILE_RECORDS in items[0],
          "the unmatched record's line: %r" % items)


def case_no_console_errors(page, report):
    errors = [entry for entry in page.read_logs() if entry.get("level") == "SEVERE"]
    check(not errors, "console errors: %r" % errors)


CASES = [case_summary_equals_the_json_report, case_filter_shows_the_matching_machines,
         case_sort_orders_by_any_column, case_clicks_filter_the_table,
         case_hostile_texts_are_text, case_rollout_states, case_header_and_unmatched_records,
         case_products_differing_by_trailing_blanks_are_one, case_machine_details_and_long_paths,
         case_kit_identity_in_details_and_kit_bars,
         case_a_fleet_with_nothing_readable,
         case_no_console_errors]


# ---- Running ---------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--fleet", required=True, help="the built bios-update-select-fleet")
    parser.add_argument("--work", required=True, help="a folder for the fleet, the pages and failures")
    args = parser.parse_args()
    missing = missing_browser()
    if missing:
        print("page_browser_test: skipped, %s is missing (tools/install-deps installs it)" % missing)
        return SKIPPED
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)

    machines, kits = make_fleet(work)
    records = make_records(work, json.loads(run_report(args.fleet, kits, machines, "json")))
    report = json.loads(run_report(args.fleet, kits, machines, "json", records=records))
    page_path = os.path.join(work, "fleet.html")
    run_report(args.fleet, kits, machines, "html", page_path, records=records)
    failures = os.path.join(work, "failures")
    shutil.rmtree(failures, ignore_errors=True)
    driver = start_browser(work)
    failed = []
    try:
        open_page(driver, page_path)
        page = Page(driver)
        page.fleet, page.work, page.machines, page.kits = args.fleet, work, machines, kits
        page.csv = run_report(args.fleet, kits, machines, "csv", records=records).decode("utf-8")
        for case in CASES:
            name = case.__name__[len("case_"):]
            try:
                case(page, report)
                print("ok    %s" % name)
            except Exception as error:  # every case runs; each failure is kept
                failed.append(name)
                os.makedirs(failures, exist_ok=True)
                shot = os.path.join(failures, name + ".png")
                try:
                    driver.save_screenshot(shot)
                except Exception:
                    shot = "(no screenshot: the browser did not answer)"
                print("FAIL  %s: %s\n      screenshot: %s" % (name, error, shot))
                if not isinstance(error, Failure):
                    traceback.print_exc()
    finally:
        driver.quit()
    print("page_browser_test: %d of %d cases passed (page %s)" % (len(CASES) - len(failed), len(CASES),
                                                                   page_path))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
