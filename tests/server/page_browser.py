#!/usr/bin/python3
"""The campaign server's public page in Debian's headless Chromium, driven by chromium-driver.

Run by page_browser_test.cpp against a real pelorin-coordinator that holds a campaign with
units in every state. Checks that the figures shown equal `status --json`, that every chart
drew, that the console stayed free of errors and that no request left the server's origin;
that the operator's view (on the operator's port) lists the set-aside unit, the mismatch and
the banned worker; that a
refresh (the page's 30-second timer, fired by the test) shows new figures without a reload;
and that with the server gone the page says so and keeps its figures. Keeps screenshots at
desktop and phone width. Prints every failure with what was expected and shown; exits 1 on
any failure, 2 when the browser cannot be started.
"""
import argparse
import base64
import json
import os
import re
import signal
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WAIT_SECONDS = 20
DESKTOP = (1280, 900)
PHONE = (390, 844)

# Before any script of the page: the refresh timers it sets (30 s) are kept so the test can
# fire one at once, and a marker shows whether the document was ever reloaded.
HOOK = """
window.__refreshTimers = [];
window.__loadMarker = Math.random();
const realSetTimeout = window.setTimeout.bind(window);
window.setTimeout = (fn, ms, ...rest) => {
  if (ms === 30000) window.__refreshTimers.push(fn);
  return realSetTimeout(fn, ms, ...rest);
};
"""

# Painted pixels of a canvas (alpha above zero); 0 for a chart that never drew.
PAINTED = """
const c = arguments[0];
const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
let n = 0;
for (let i = 3; i < data.length; i += 4) if (data[i] !== 0) ++n;
return n;
"""

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def digits(text):
    return re.sub(r"[^0-9]", "", text)


def wait_for(driver, condition, what, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if condition():
                return True
        except WebDriverException:
            pass
        time.sleep(0.1)
    failures.append(f"timed out waiting for {what}")
    return False


def status_json(args):
    out = subprocess.run([args.coordinator, "--state-dir", args.state_dir, "status", "--json"],
                         check=True, capture_output=True, text=True, timeout=60).stdout
    return json.loads(out)


def start_browser(args, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-default-apps", "--disable-extensions", "--hide-scrollbars",
                 "--force-device-scale-factor=1", f"--user-data-dir={profile}",
                 f"--window-size={DESKTOP[0]},{DESKTOP[1]}",
                 # Trust the server's key alone; verification stays on for everything else.
                 f"--ignore-certificate-errors-spki-list={args.spki}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": HOOK})
    return driver


def load(driver, url):
    driver.get(url)
    wait_for(driver, lambda: driver.find_element(By.ID, "updated").text.startswith("Figures of"),
             f"the figures of {url}")


def campaign_card(driver, name):
    for card in driver.find_elements(By.CSS_SELECTOR, "article.campaign"):
        if card.get_attribute("data-campaign") == name:
            return card
    return None


def figure(card, name):
    return card.find_element(By.CSS_SELECTOR, f'[data-figure="{name}"]').text


def check_figures(driver, status, when):
    """Every campaign's figures on the page against `status --json`."""
    for c in status["campaigns"]:
        card = campaign_card(driver, c["name"])
        if not check(card is not None, f"{when}: no card for campaign {c['name']}"):
            continue
        name = c["name"]
        for key in ("validated_below", "starts_validated"):
            shown = digits(figure(card, key).split(" (")[0])  # "(2^128)" may follow the number
            check(shown == c[key], f"{when}: {name} shows {key} {shown}, status --json says {c[key]}")
        validated, total = figure(card, "units_validated").split(" of ")
        check(digits(validated) == str(c["units"]["validated"]) and digits(total) == c["units_total"],
              f"{when}: {name} shows {validated} of {total} units validated, status --json says "
              f"{c['units']['validated']} of {c['units_total']}")
        check(c["begin"] in digits(figure(card, "range")), f"{when}: {name}'s range does not show {c['begin']}")
        left = figure(card, "time_left")
        check((c["seconds_left"] is None) == left.startswith("unknown"),
              f"{when}: {name} shows time left {left!r}, status --json says {c['seconds_left']}")

        # The coverage table: units by state (open: every unit not in another state, made or
        # not), and starts that add up to the range.
        rows = {}
        for tr in card.find_elements(By.CSS_SELECTOR, ".coverage-table tbody tr"):
            cells = [td.get_attribute("textContent") for td in tr.find_elements(By.TAG_NAME, "td")]
            rows[cells[0]] = (int(digits(cells[1])), int(digits(cells[2])))
        units = c["units"]
        others = units["validated"] + units["pending"] + units["leased"] + units["set_aside"]
        expected = {"Validated": units["validated"], "Waiting for a copy": units["pending"], "Leased": units["leased"],
                    "Set aside": units["set_aside"], "Open": int(c["units_total"]) - others}
        for label, count in expected.items():
            got = rows.get(label, (None, None))[0]
            check(got == count, f"{when}: {name}'s coverage table shows {got} {label} units, status --json says {count}")
        check(rows.get("Validated", (0, None))[1] == int(c["starts_validated"]),
              f"{when}: {name}'s coverage table shows {rows.get('Validated')} validated starts, "
              f"status --json says {c['starts_validated']}")
        starts = sum(r[1] for r in rows.values())
        check(starts == int(c["end"]) - int(c["begin"]),
              f"{when}: {name}'s starts by state add up to {starts}, not the range's {int(c['end']) - int(c['begin'])}")


def check_charts(driver):
    canvases = driver.find_elements(By.CSS_SELECTOR, "article.campaign canvas")
    check(len(canvases) >= 2, f"only {len(canvases)} chart canvases on the page")
    for canvas in canvases:
        painted = driver.execute_script(PAINTED, canvas)
        check(painted > 500, f"the chart {canvas.get_attribute('class')} is blank ({painted} painted pixels)")


def check_console_and_origin(driver, origin, when):
    for entry in driver.get_log("browser"):
        check(entry["level"] not in ("SEVERE", "WARNING"), f"{when}: console {entry['level']}: {entry['message']}")
    requested = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        # What the page's documents asked for (the browser's own pages ask for chrome:// files).
        if message["method"] == "Network.requestWillBeSent" and \
                message["params"].get("documentURL", "").startswith(origin + "/"):
            requested.append(message["params"]["request"]["url"])
    check(len(requested) >= 5, f"{when}: only {len(requested)} requests seen: {requested}")
    for url in requested:
        check(url.startswith(origin + "/"), f"{when}: a request left the server's origin: {url}")


def screenshot(driver, size, path):
    """The whole page at this width, below the window's height too; returns the page's own
    width there."""
    driver.set_window_size(*size)
    time.sleep(0.3)  # the charts follow their boxes on resize
    width = driver.execute_script("return document.documentElement.scrollWidth")
    height = driver.execute_script("return document.documentElement.scrollHeight")
    shot = driver.execute_cdp_cmd("Page.captureScreenshot", {
        "format": "png", "captureBeyondViewport": True,
        "clip": {"x": 0, "y": 0, "width": size[0], "height": height, "scale": 1}})
    with open(path, "wb") as f:
        f.write(base64.b64decode(shot["data"]))
    driver.set_window_size(*DESKTOP)
    return width


def fire_refresh(driver):
    driver.execute_script("const t = window.__refreshTimers; t[t.length - 1]();")


def post_complete(args, origin):
    with open(args.complete_body_file, "rb") as f:
        body = f.read()
    request = urllib.request.Request(origin + args.complete_path, data=body, method="POST",
                                     headers={"Authorization": "Bearer " + args.complete_token,
                                              "Content-Type": "application/json"})
    context = ssl.create_default_context(cafile=args.ca)
    with urllib.request.urlopen(request, context=context, timeout=30) as reply:
        return reply.status, reply.read().decode()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--origin", required=True, help="https://127.0.0.1:PORT")
    parser.add_argument("--operator-origin", required=True, help="http://127.0.0.1:PORT, the operator's port")
    parser.add_argument("--spki", required=True, help="base64 SHA-256 of the server key's SubjectPublicKeyInfo")
    parser.add_argument("--ca", required=True, help="the server's certificate authority, for the test's own request")
    parser.add_argument("--coordinator", required=True)
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--set-aside-begin", required=True)
    parser.add_argument("--mismatch-begin", required=True)
    parser.add_argument("--banned-worker", required=True)
    parser.add_argument("--complete-path", required=True)
    parser.add_argument("--complete-token", required=True)
    parser.add_argument("--complete-body-file", required=True)
    parser.add_argument("--server-pid", type=int, required=True)
    parser.add_argument("--screenshots", required=True)
    args = parser.parse_args()
    origin = args.origin
    os.makedirs(args.screenshots, exist_ok=True)

    with tempfile.TemporaryDirectory(prefix="pelorin-chromium-") as profile:
        try:
            driver = start_browser(args, profile)
        except WebDriverException as e:
            print(f"cannot start {CHROMIUM} through {CHROMEDRIVER}: {e.msg}")
            return 2
        try:
            # The public page, as a volunteer sees it.
            status = status_json(args)
            load(driver, origin + "/")
            check_figures(driver, status, "public page")
            check_charts(driver)
            check(not driver.find_element(By.ID, "operator").is_displayed(), "the operator's view shows without ?view=operator")
            page_text = driver.find_element(By.TAG_NAME, "body").text
            for secret in ("127.0.0.1", args.complete_token):
                check(secret not in page_text, f"the public page shows {secret}")
            screenshot(driver, DESKTOP, os.path.join(args.screenshots, "desktop.png"))
            width = screenshot(driver, PHONE, os.path.join(args.screenshots, "phone.png"))
            check(width <= PHONE[0], f"the page is {width} px wide at phone width ({PHONE[0]} px)")
            check_console_and_origin(driver, origin, "public page")

            # The operator's view, on the operator's port; the rest of the visit stays there.
            origin = args.operator_origin
            load(driver, origin + "/?view=operator")
            wait_for(driver, lambda: driver.find_element(By.ID, "operator").is_displayed(), "the operator's view")
            set_aside = driver.find_element(By.ID, "set-aside").text
            check(f"{int(args.set_aside_begin):,}" in set_aside,
                  f"the set-aside table does not list the unit at {args.set_aside_begin}: {set_aside!r}")
            mismatches = driver.find_element(By.ID, "mismatches").text
            check(f"{int(args.mismatch_begin):,}" in mismatches,
                  f"the mismatch table does not list the unit at {args.mismatch_begin}: {mismatches!r}")
            banned = [row.text for row in driver.find_elements(By.CSS_SELECTOR, "#troubled-workers tbody tr")
                      if row.text.startswith(args.banned_worker + " ")]
            check(len(banned) == 1 and "banned" in banned[0],
                  f"the workers' table does not list {args.banned_worker} as banned: {banned!r}")
            check_figures(driver, status, "operator's view")
            screenshot(driver, DESKTOP, os.path.join(args.screenshots, "operator.png"))
            check_console_and_origin(driver, origin, "operator's view")

            # A refresh shows new figures without a reload: a unit is completed meanwhile.
            marker = driver.execute_script("return window.__loadMarker")
            delays = driver.execute_script("return window.__refreshTimers.length")
            check(delays >= 1, "the page set no 30-second refresh timer")
            code, reply = post_complete(args, args.origin)
            check(code == 200, f"the complete made for the refresh check got {code}: {reply}")
            after = status_json(args)
            check(after != status, "the complete changed nothing in status --json")

            def refreshed():
                fire_refresh(driver)
                time.sleep(0.5)
                card = campaign_card(driver, after["campaigns"][0]["name"])
                rows = {tr.find_elements(By.TAG_NAME, "td")[0].get_attribute("textContent"):
                        tr.find_elements(By.TAG_NAME, "td")[1].get_attribute("textContent")
                        for tr in card.find_elements(By.CSS_SELECTOR, ".coverage-table tbody tr")}
                return digits(rows["Waiting for a copy"]) == str(after["campaigns"][0]["units"]["pending"])

            # The server keeps stats for a few seconds; the page shows the change within them.
            wait_for(driver, refreshed, "the refresh to show the completed unit", seconds=15)
            check_figures(driver, after, "after a refresh")
            check(driver.execute_script("return window.__loadMarker") == marker, "the refresh reloaded the page")

            # The server goes away: the page says so and keeps the figures it had.
            os.kill(args.server_pid, signal.SIGTERM)
            time.sleep(1.0)
            fire_refresh(driver)
            offline = driver.find_element(By.ID, "offline")
            wait_for(driver, offline.is_displayed, "the line that the server cannot be reached")
            check("cannot be reached" in offline.text, f"the offline line says {offline.text!r}")
            check_figures(driver, after, "with the server gone")
            check(driver.execute_script("return window.__loadMarker") == marker, "the page reloaded with the server gone")
            for entry in driver.get_log("browser"):
                # Failed fetches are the one error expected now.
                check("Failed to fetch" in entry["message"] or "ERR_CONNECTION_REFUSED" in entry["message"],
                      f"console with the server gone: {entry['message']}")
            screenshot(driver, PHONE, os.path.join(args.screenshots, "offline-phone.png"))
        finally:
            driver.quit()

    for f in failures:
        print("FAILED:", f)
    print(f"{'ok' if not failures else str(len(failures)) + ' failures'}; screenshots in {args.screenshots}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
