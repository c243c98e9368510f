#!/usr/bin/env python3
"""The station's page in a real browser: headless Chromium (Debian's), driven
through chromedriver's WebDriver interface, against station_page_server.exe
under Wine, whose state this test plays line by line. The page must show each
port's outcome within 1 s of the module's record, show a device's start-up
output that is markup as text, say when the connection is lost and come back,
and say when the station has ended. A screenshot of the page is left in the
build folder (station-page.png) for the guide.

    station_page_test.py BUILD_FOLDER station_page_server.exe

Exit status 77 (skipped) where chromium or chromedriver is not installed."""
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
OUTCOME_WITHIN_S = 1.0
MARKUP = "<img src=x onerror=\"document.title='markup ran'\">"
failures = []


def fail(text):
    print("FAIL: " + text, flush=True)
    failures.append(text)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Driver:
    """The few WebDriver calls the test needs, over plain HTTP."""

    def __init__(self, port):
        self.base = "http://127.0.0.1:%d" % port
        self.session = None

    def call(self, method, path, body=None, timeout=30):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=timeout) as answer:
            return json.loads(answer.read().decode())["value"]

    def start(self, profile):
        args = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--disable-quic", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--window-size=1400,1000",
                "--user-data-dir=" + profile]
        capabilities = {"browserName": "chrome",
                        "goog:chromeOptions": {"binary": CHROMIUM, "args": args}}
        self.session = self.call("POST", "/session",
                                 {"capabilities": {"alwaysMatch": capabilities}})["sessionId"]

    def open(self, url):
        self.call("POST", "/session/%s/url" % self.session, {"url": url})

    def run(self, script):
        return self.call("POST", "/session/%s/execute/sync" % self.session,
                         {"script": script, "args": []})

    def screenshot(self, path):
        with open(path, "wb") as file:
            file.write(base64.b64decode(self.call("GET", "/session/%s/screenshot" % self.session)))

    def quit(self):
        if self.session:
            try:
                self.call("DELETE", "/session/" + self.session, timeout=10)
            except OSError:
                pass


# What the page shows, read from its DOM.
READ_PAGE = """
const tiles = {};
document.querySelectorAll('.tile').forEach((tile) => {
  tiles[tile.dataset.port] = {state: tile.dataset.state, text: tile.textContent};
});
const banner = document.getElementById('connection');
return {tiles: tiles,
        banner: banner.hidden ? '' : banner.textContent,
        station: document.getElementById('station-state').textContent,
        modules: document.getElementById('total-modules').textContent,
        rows: Array.from(document.querySelectorAll('#modules tr')).map(
            (row) => Array.from(row.cells).map((cell) => cell.textContent)),
        images: document.querySelectorAll('img').length,
        title: document.title};
"""


def wait_for(driver, what, test, within_s):
    """Reads the page until test(page) holds; the seconds it took, or None."""
    start = time.monotonic()
    page = None
    while time.monotonic() - start < within_s:
        page = driver.run(READ_PAGE)
        if test(page):
            return time.monotonic() - start
        time.sleep(0.05)
    fail("%s: not within %.1f s; the page shows %s" % (what, within_s, json.dumps(page)))
    return None


class Station:
    """station_page_server.exe under Wine: one command a line, "ok" when done."""

    def __init__(self, build, program):
        script = ('. "$1/tools/wine-env.sh"; wine_prepare "$2" null >&2 || exit 1; '
                  'exec "$KORVAN_WINE_LOADER" "$3"')
        self.process = subprocess.Popen(["bash", "-c", script, "station", ROOT, build, program],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.url = self.process.stdout.readline().strip()

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline().strip()
        if answer != "ok":
            fail("%s: the station answered %r" % (command, answer))

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(timeout=20)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()


def main():
    build, program = sys.argv[1], sys.argv[2]
    for needed in (CHROMIUM, CHROMEDRIVER):
        if not os.access(needed, os.X_OK):
            print("SKIP: %s is not installed (tools/install-deps installs it)" % needed)
            return 77
    station = Station(build, program)
    if not station.url.startswith("http://127.0.0.1:"):
        fail("the station did not start: %r" % station.url)
        return 1
    driver_port = free_port()
    chromedriver = subprocess.Popen([CHROMEDRIVER, "--port=%d" % driver_port],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    profile = tempfile.mkdtemp(prefix="korvan-page-")
    driver = Driver(driver_port)
    try:
        for _ in range(100):
            try:
                if driver.call("GET", "/status", timeout=2).get("ready"):
                    break
            except OSError:
                time.sleep(0.1)
        driver.start(profile)
        driver.open(station.url)
        wait_for(driver, "the page shows both ports",
                 lambda page: set(page["tiles"]) == {"COM3", "COM4"} and page["banner"] == "", 10)

        station.tell("program 0 37")
        wait_for(driver, "COM3 programming at 36.9 %",
                 lambda page: page["tiles"]["COM3"]["state"] == "programming" and
                 "36.9 %" in page["tiles"]["COM3"]["text"], OUTCOME_WITHIN_S)
        station.tell("program 1 80")
        for command, port, state, text in (
                ("pass 0 Korvan boot 2.31", "COM3", "passed", "Programming successful"),
                ("fail 1 " + MARKUP, "COM4", "failed", "no acknowledgement after script byte 223")):
            station.tell(command)
            took = wait_for(driver, "%s %s" % (port, state),
                            lambda page: page["tiles"][port]["state"] == state and
                            text in page["tiles"][port]["text"], OUTCOME_WITHIN_S)
            if took is not None:
                print("%s: %s shown after %.0f ms" % (port, state, took * 1000), flush=True)
        page = driver.run(READ_PAGE)
        startups = [row[5] for row in page["rows"]]
        if MARKUP not in startups:
            fail("the start-up output that is markup is not shown as text: %s" % startups)
        if page["images"] != 0 or page["title"] == "markup ran":
            fail("the start-up output was taken for markup: %d images, title %r"
                 % (page["images"], page["title"]))
        if page["modules"] != "2":
            fail("the totals show %s modules, not 2" % page["modules"])

        # The server goes away and comes back on its port: the page says so,
        # then shows what happened meanwhile.
        station.tell("down")
        wait_for(driver, "the page tells that the connection is lost",
                 lambda page: "connection to the station is lost" in page["banner"], 2)
        station.tell("pass 1")
        station.tell("up")
        wait_for(driver, "the page is back with what happened meanwhile",
                 lambda page: page["banner"] == "" and page["modules"] == "3" and
                 page["tiles"]["COM4"]["state"] == "passed", 10)
        station.tell("program 0 62")
        wait_for(driver, "COM3 programming again",
                 lambda page: "61.8 %" in page["tiles"]["COM3"]["text"], OUTCOME_WITHIN_S)
        driver.screenshot(os.path.join(build, "station-page.png"))

        station.tell("end")
        wait_for(driver, "the page tells that the station has ended",
                 lambda page: "ended" in page["banner"] and page["station"] == "Ended", 2)
        time.sleep(1.5)  # no "connection lost" once the station ended
        wait_for(driver, "the page still tells that the station has ended",
                 lambda page: "ended" in page["banner"], 1)
    finally:
        driver.quit()
        chromedriver.kill()
        chromedriver.wait()
        station.close()
        shutil.rmtree(profile, ignore_errors=True)
    if failures:
        return 1
    print("station page: all shown as it should be")
    return 0


if __name__ == "__main__":
    sys.exit(main())
