#!/usr/bin/python3
"""Headless Chromium for the fleet report's page: one way to start it and
open a page, shared by the browser tests (page_browser_test.py) and
tools/benchmark, and two uses of its own:

    page_browser.py --work DIR --measure PAGE
    page_browser.py --work DIR --fleet PATH --readme-screenshot PNG

--measure times a page (loads and draws, filter keystrokes) and prints the
figures as one JSON line, for tools/benchmark. --readme-screenshot writes
the README's picture of the page: a sample fleet against examples/kits,
1280x900. Exits 77 on a machine without chromium, chromium-driver or
python3-selenium; run it with Debian's /usr/bin/python3, where
python3-selenium is importable.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "data"))
import make_dumps as dumps  # noqa: E402

SKIPPED = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Headless as root, and nothing that reaches the network on its own.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--window-size=1280,900"]
WAIT_SECONDS = 20


class Failure(Exception):
    pass


def missing_browser():
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.path.exists(path):
            return path
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium (for %s)" % sys.executable
    return None


def start_browser(work):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="profile.", dir=work))
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def wait_for(driver, script, seconds=WAIT_SECONDS):
    """Polls `script` in the page until it returns something true."""
    from selenium.webdriver.support.ui import WebDriverWait
    return WebDriverWait(driver, seconds, poll_frequency=0.005).until(
        lambda d: d.execute_script(script))


def open_page(driver, path):
    """Opens a page from disk and waits until it has drawn."""
    driver.get("file://" + os.path.abspath(path))
    return wait_for(driver, "return document.documentElement.dataset.drawnMs")


# ---- Making a fleet ---------------------------------------------------------------

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def run_report(fleet, kits, machines, form, output=None, records=None):
    """The report of `machines` against the kits under `kits`, with the run
    records under `records` when given."""
    command = [fleet, "--kits", kits, "--format", form, "--jobs", "2"]
    if records:
        command += ["--records", records]
    if output:
        command += ["--output", output]
    result = subprocess.run(command + [machines], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise Failure("%s failed (%d): %s" % (" ".join(command), result.returncode,
                                              result.stderr.decode("utf-8", "replace")))
    return result.stdout


# ---- The README's picture ------------------------------------------------------------

def sample_fleet(work):
    """A few hundred machines against examples/kits, for the README."""
    machines = os.path.join(work, "fleet")
    shutil.rmtree(machines, ignore_errors=True)
    plan = [  # product, versions and how many machines of each, maker
        (b"Model7 Tower", [(b"1.24", 40), (b"1.26", 95), (b"1.27", 60)], b"Acme Corporation"),
        (b"Notebook 15", [(b"G1ET45WW (1.20 )", 70), (b"G1ET46WW (1.21 )", 35)], b"Acme Mobile"),
        (b"Notebook 13", [(b"8AET46WW (1.26 )", 18)], b"Acme Mobile"),
    ]
    # Each host a machine of its own: the report counts a serial number,
    # UUID and product seen twice as one machine.
    n = 0
    for product, versions, vendor in plan:
        for version, count in versions:
            for _ in range(count):
                structures = dumps.desktop_structures(version, vendor=vendor, product=product)
                structures[1] = dumps.system_information(0x0001, vendor, product, b"1.0",
                                                         b"HOST-%04d" % n, b"SKU", b"Family")
                write(os.path.join(machines, "host-%04d.bin" % n), dumps.dump_2x(structures))
                n += 1
    for version, count in [(b"2.10.4", 22), (b"2.17.1", 14)]:
        for _ in range(count):
            structures = dumps.server_structures(version)
            structures[1] = dumps.system_information(0x0100, b"Acme Servers Inc.", b"AS-2200 R4",
                                                     b"Rev 4", b"HOST-%04d" % n, b"AS2200R4-BASE",
                                                     b"AS-2200")
            write(os.path.join(machines, "host-%04d.bin" % n), dumps.dump_2x(structures))
            n += 1
    write(os.path.join(machines, "host-%04d.bin" % n), b"not a dump\n")
    return machines


def readme_screenshot(fleet, work, target):
    """The page as an admin makes it, as the README says: the kits in
    kits/ (copies of examples/kits), the machines' data in fleet/, with
    -segments as the warnings advise."""
    sample_fleet(work)
    kits = os.path.join(work, "kits")
    shutil.rmtree(kits, ignore_errors=True)
    shutil.copytree(os.path.join(REPO, "examples", "kits"), kits)
    page_path = os.path.join(work, "fleet.html")
    command = [fleet, "--kits", "kits", "--app-args", "-segments", "--format", "html",
               "--output", page_path, "fleet"]
    subprocess.run(command, cwd=work, check=True)
    driver = start_browser(work)
    try:
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})
        open_page(driver, page_path)
        partial = target + ".partial.png"
        driver.save_screenshot(partial)
        os.replace(partial, target)
    finally:
        driver.quit()
    print("page_browser: wrote %s" % target)


# ---- Timing a page, for tools/benchmark ----------------------------------------------

LOADS = 3
# Narrowing, widening, and matching nothing: each is one keystroke.
KEYSTROKES = ["m", "0", "1", "2", "3", "\b", "\b", "\b", "z", "z"]


def measure(work, page_path):
    """Load-and-draw times (the page's own clock, from navigation start
    to the first frame after drawing; and the driver's wall clock) and
    filter keystrokes (from the key event to the first frame after the
    table is drawn again), in milliseconds."""
    from selenium.webdriver.common.keys import Keys
    driver = start_browser(work)
    figures = {"drawn": [], "wall": [], "keys": [], "shown": []}
    try:
        for _ in range(LOADS):
            started = time.monotonic()
            driver.get("file://" + os.path.abspath(page_path))
            drawn = wait_for(driver, "return document.documentElement.dataset.drawnMs")
            figures["wall"].append(round((time.monotonic() - started) * 1000))
            figures["drawn"].append(int(drawn))
        driver.execute_script("""
            window.keyTimes = [];
            const filter = document.getElementById('filter');
            filter.addEventListener('keydown', (event) => { window.keyStart = event.timeStamp; }, true);
            // Added after the page's own listener, so it runs after the table is drawn.
            filter.addEventListener('input', () => {
              const start = window.keyStart;
              requestAnimationFrame(() => setTimeout(() => window.keyTimes.push(
                [performance.now() - start, Number(document.getElementById('shown').dataset.shown)]), 0));
            });""")
        box = driver.find_element("css selector", "#filter")
        box.click()
        for n, key in enumerate(KEYSTROKES, 1):
            box.send_keys(Keys.BACKSPACE if key == "\b" else key)
            wait_for(driver, "return window.keyTimes.length >= %d" % n)
        for milliseconds, shown in driver.execute_script("return window.keyTimes"):
            figures["keys"].append(round(milliseconds, 1))
            figures["shown"].append(shown)
        figures["errors"] = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    finally:
        driver.quit()
    print(json.dumps(figures))


# ---- Running ---------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--work", required=True, help="a folder for the browser's profile and the fleet")
    parser.add_argument("--measure", metavar="PAGE", help="time this page")
    parser.add_argument("--fleet", help="the built bios-update-select-fleet, for --readme-screenshot")
    parser.add_argument("--readme-screenshot", metavar="PNG", help="write the README's picture here")
    args = parser.parse_args()
    if bool(args.measure) == bool(args.readme_screenshot) or (args.readme_screenshot and not args.fleet):
        parser.error("give --measure PAGE, or --readme-screenshot PNG with --fleet")
    missing = missing_browser()
    if missing:
        print("page_browser: skipped, %s is missing (tools/install-deps installs it)" % missing)
        return SKIPPED
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    if args.measure:
        measure(work, args.measure)
    else:
        readme_screenshot(os.path.abspath(args.fleet), work, os.path.abspath(args.readme_screenshot))
    return 0


if __name__ == "__main__":
    sys.exit(main())
