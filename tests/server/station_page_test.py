#!/usr/bin/env python3
"""The station's page in a real browser: headless Chromium (Debian's), driven
through chromedriver's WebDriver interface.

First a real station: korvan-cli.exe --port COM1,COM3 --repeat --serve 0 sets
the Profibus-ID of two simulated modules (korvan-sim.exe on COM2 and COM4),
one of which sends markup as its start-up output and the other a record cut
short, and whose MQTT broker (--mqtt) is not there. The page must show the
broker not reached, each port's outcome within 1 s of the module's end
(its line in the station's log), the markup as text, and the end of the
station once its Stop button (asked twice) has stopped it. A screenshot of
the page as the modules have ended goes to station-page.png in the build
folder, or to --screenshot FILE (tools/station-screenshot, for the guide).

Then station_page_server.exe, whose state the test plays, for what a real
station does not do while it runs: its server goes away and comes back, and
the page says so and then shows what happened meanwhile.

Run in a Wine prefix with cables COM1<->COM2 and COM3<->COM4:

    KORVAN_COM_PAIRS=1-2,3-4 tools/wine-run BUILD --shell \\
        python3 station_page_test.py BUILD station_page_server.exe [--screenshot FILE]

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

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
OUTCOME_WITHIN_S = 1.0
MARKUP = "<img src=x onerror=\"document.title='markup ran'\">"
REQUEST = "Please switch the Korvan module OFF and then ON"
failures = []


def fail(text):
    print("FAIL: " + text, flush=True)
    failures.append(text)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


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
        for _ in range(100):
            try:
                if self.call("GET", "/status", timeout=2).get("ready"):
                    break
            except OSError:
                time.sleep(0.1)
        args = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--disable-quic", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--window-size=1280,1000",
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
  tiles[tile.dataset.port] = {state: tile.dataset.state, text: tile.textContent,
                              last: tile.dataset.last || ''};
});
const alarm = document.getElementById('alarm');
const banner = document.getElementById('connection');
return {tiles: tiles,
        banner: banner.hidden ? '' : banner.textContent,
        station: document.getElementById('station-state').textContent,
        modules: document.getElementById('total-modules').textContent,
        run: document.getElementById('run').textContent,
        rows: Array.from(document.querySelectorAll('#modules tr')).map(
            (row) => Array.from(row.cells).map((cell) => cell.textContent)),
        asking: !document.getElementById('stop-ask').hidden,
        alarm: alarm.hidden ? '' : alarm.textContent,
        names: document.getElementById('station-names').textContent,
        disabled: ['pause', 'resume', 'stop'].filter((id) => document.getElementById(id).disabled),
        broker: document.getElementById('broker').textContent,
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


def wine(build, program, *arguments, **streams):
    return subprocess.Popen([os.environ["KORVAN_WINE_LOADER"], os.path.join(build, program)] +
                            list(arguments), **streams)


class RealStation:
    """korvan-cli.exe serving, with a simulated module on each cable's far end."""

    def __init__(self, build, folder):
        self.log = os.path.join(folder, "modules.csv")
        self.errors = os.path.join(folder, "cli-errors.txt")
        self.modules = {
            "COM1": wine(build, "sim/korvan-sim.exe", "COM2", "--startup-text", MARKUP,
                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, text=True),
            "COM3": wine(build, "sim/korvan-sim.exe", "COM4", "--config-length", "62",
                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, text=True)}
        with open(self.errors, "w") as errors:
            self.cli = wine(build, "korvan-cli.exe", "--port", "COM1,COM3", "--repeat",
                            "--serve", "0", "--mqtt", "127.0.0.1:%d" % free_port(),
                            "--log", windows_path(self.log), "profibus-id",
                            "42", stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=errors)

    def error_lines(self):
        with open(self.errors, encoding="utf-8", errors="replace") as errors:
            return errors.read().replace("\r", "").split("\n")

    def url_once_ready(self):
        """The address of its first line once its ports are open; None when it ends first."""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and self.cli.poll() is None:
            lines = self.error_lines()
            if REQUEST in lines:
                if not lines[0].startswith("korvan-cli: serving http://127.0.0.1:"):
                    fail("its first line does not name the address: %r" % lines[0])
                    return None
                return lines[0].split("serving ")[1]
            time.sleep(0.05)
        fail("the station is not ready: %s" % self.error_lines())
        return None

    def power_on(self):
        for module in self.modules.values():
            module.stdin.write("p\n")
            module.stdin.flush()

    def logged_ports(self):
        """The ports of the log's module lines so far."""
        try:
            with open(self.log, encoding="utf-8-sig") as log:
                return [line.split(",")[1] for line in log.read().splitlines()[1:] if line]
        except OSError:
            return []

    def close(self):
        for process in [self.cli] + list(self.modules.values()):
            if process.poll() is None:
                process.kill()
            process.wait()


def show_real_station(driver, build, folder, screenshot):
    station = RealStation(build, folder)
    try:
        url = station.url_once_ready()
        if url is None:
            return
        driver.open(url)
        wait_for(driver, "the page shows both ports waiting",
                 lambda page: set(page["tiles"]) == {"COM1", "COM3"} and all(
                     tile["state"] == "waiting" for tile in page["tiles"].values()), 10)
        # A broker that no one runs: the page says so.
        wait_for(driver, "the page shows the broker not reached",
                 lambda page: page["broker"].startswith("Broker 127.0.0.1:") and
                 "broker not reached: the connection was refused" in page["broker"], 10)
        station.power_on()
        outcomes = {"COM1": ("passed", "The programming of Profibus-ID was successful."),
                    "COM3": ("failed", "Error in received configuration of Korvan module"
                             "record of 62 characters")}
        logged, shown = {}, {}
        deadline = time.monotonic() + 20
        while (len(shown) < len(outcomes) or len(logged) < len(outcomes)) and \
                time.monotonic() < deadline:
            for port in station.logged_ports():
                logged.setdefault(port, time.monotonic())
            page = driver.run(READ_PAGE)
            for port, (state, text) in outcomes.items():
                tile = page["tiles"][port]
                if port not in shown and tile["state"] == state and text in tile["text"]:
                    shown[port] = time.monotonic()
            time.sleep(0.02)
        for port, (state, _) in outcomes.items():
            if port not in shown or port not in logged:
                fail("%s: %s not logged and shown: %s" % (port, state, json.dumps(page)))
                continue
            # The port's thread tells its outcome before the station logs it.
            took = max(0, shown[port] - logged[port])
            print("%s: %s shown %.0f ms after its log line" % (port, state, took * 1000),
                  flush=True)
            if took > OUTCOME_WITHIN_S:
                fail("%s: %s shown %.2f s after the module's end" % (port, state, took))
        wait_for(driver, "the page shows both modules, and each on its port",
                 lambda page: page["modules"] == "2" and len(page["rows"]) == 2 and
                 "Modules 1 \u00b7 Failed 0" in page["tiles"]["COM1"]["text"] and
                 "Modules 1 \u00b7 Failed 1" in page["tiles"]["COM3"]["text"], OUTCOME_WITHIN_S)
        page = driver.run(READ_PAGE)
        if not page["run"].startswith("of run 20"):
            fail("the page does not name the station's run: %r" % page["run"])
        startups = [row[5] for row in page["rows"]]
        if MARKUP not in startups:
            fail("the start-up output that is markup is not shown as text: %s" % startups)
        if page["images"] != 0 or page["title"] == "markup ran":
            fail("the start-up output was taken for markup: %d images, title %r"
                 % (page["images"], page["title"]))
        wait_for(driver, "each port waits for its next module",
                 lambda page: all("next module: switch it ON" in tile["text"]
                                  for tile in page["tiles"].values()), 5)
        driver.screenshot(screenshot)

        # Stop, asked once more; the page tells the end and keeps telling it
        # once the server has gone.
        driver.run("document.getElementById('stop').click();")
        wait_for(driver, "the page asks once more before it stops the station",
                 lambda page: page["asking"] and page["station"] == "Running", 1)
        driver.run("document.getElementById('stop-yes').click();")
        wait_for(driver, "the page tells that the station has ended",
                 lambda page: "ended" in page["banner"] and page["station"] == "Ended", 5)
        try:
            status = station.cli.wait(timeout=10)
        except subprocess.TimeoutExpired:
            status = None
        if status != 8:
            fail("the station ended with %s, not 8: %s" % (status, station.error_lines()))
        time.sleep(1)
        wait_for(driver, "the page still tells that the station has ended",
                 lambda page: "ended" in page["banner"], 1)
    finally:
        station.close()


class PlayedStation:
    """station_page_server.exe: one command a line, "ok" when done."""

    def __init__(self, build, program):
        # Its standard error goes nowhere: the Wine services that the prefix's
        # first program starts keep that program's, which would hold ctest's
        # output open for minutes.
        self.process = subprocess.Popen([os.environ["KORVAN_WINE_LOADER"], program],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.url = None

    def ready(self):
        self.url = self.process.stdout.readline().strip()
        return self.url.startswith("http://127.0.0.1:")

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


def show_connection_lost_and_back(driver, played):
    if not played.ready():
        fail("the played station did not start: %r" % played.url)
        return
    driver.open(played.url)
    wait_for(driver, "the page shows the played station",
             lambda page: set(page["tiles"]) == {"COM3", "COM4"} and page["banner"] == "", 10)
    played.tell("pass 0")
    wait_for(driver, "COM3 passed", lambda page: page["tiles"]["COM3"]["state"] == "passed",
             OUTCOME_WITHIN_S)
    played.tell("down")
    wait_for(driver, "the page tells that the connection is lost",
             lambda page: "connection to the station is lost" in page["banner"], 2)
    played.tell("pass 1")
    played.tell("up")
    wait_for(driver, "the page is back with what happened meanwhile",
             lambda page: page["banner"] == "" and page["modules"] == "2" and
             page["tiles"]["COM4"]["state"] == "passed", 10)
    show_tiles_keep_the_last_module(driver, played)


def show_tiles_keep_the_last_module(driver, played):
    """Three failures raise COM4's alarm; a module cut short needs
    programming again; paused and ended, each tile keeps its last module in
    sight, and after the end no button can be pressed."""
    for _ in range(3):
        played.tell("fail 1")
    wait_for(driver, "COM4 in alarm",
             lambda page: "3 failed in a row" in page["tiles"]["COM4"]["text"] and
             page["alarm"] == "Alarm: COM4" and page["names"] == "line 2 \u00b7 Order L-0042",
             OUTCOME_WITHIN_S)
    played.tell("cut 0")
    wait_for(driver, "COM3's module cut short",
             lambda page: "needs programming again" in page["tiles"]["COM3"]["text"] and
             page["tiles"]["COM3"]["last"] == "cut", OUTCOME_WITHIN_S)

    def last_in_sight(page, state):
        com3, com4 = page["tiles"]["COM3"], page["tiles"]["COM4"]
        return (com3["state"] == state and com4["state"] == state and
                com3["last"] == "cut" and "needs programming again" in com3["text"] and
                com4["last"] == "failed" and
                "Last: Korvan could not be programmed" in com4["text"] and
                "3 failed in a row" in com4["text"])

    played.tell("pause")
    wait_for(driver, "the paused tiles with their last modules",
             lambda page: last_in_sight(page, "paused"), OUTCOME_WITHIN_S)
    played.tell("end")
    wait_for(driver, "the ended tiles with their last modules and no button to press",
             lambda page: last_in_sight(page, "ended") and
             sorted(page["disabled"]) == ["pause", "resume", "stop"], 10)


def main():
    arguments = sys.argv[1:]
    screenshot = None
    if "--screenshot" in arguments:
        at = arguments.index("--screenshot")
        screenshot = os.path.abspath(arguments[at + 1])
        del arguments[at:at + 2]
    build, program = arguments
    for needed in (CHROMIUM, CHROMEDRIVER):
        if not os.access(needed, os.X_OK):
            print("SKIP: %s is not installed (tools/install-deps installs it)" % needed)
            return 77
    if "KORVAN_WINE_LOADER" not in os.environ or "WINEPREFIX" not in os.environ:
        print("run under tools/wine-run BUILD --shell, with KORVAN_COM_PAIRS=1-2,3-4")
        return 1
    played = PlayedStation(build, program)
    driver_port = free_port()
    chromedriver = subprocess.Popen([CHROMEDRIVER, "--port=%d" % driver_port],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    folder = tempfile.mkdtemp(prefix="korvan-page-")
    driver = Driver(driver_port)
    try:
        driver.start(os.path.join(folder, "profile"))
        show_real_station(driver, build, folder,
                          screenshot or os.path.join(build, "station-page.png"))
        show_connection_lost_and_back(driver, played)
    finally:
        driver.quit()
        chromedriver.kill()
        chromedriver.wait()
        played.close()
        shutil.rmtree(folder, ignore_errors=True)
    if failures:
        return 1
    print("station page: all shown as it should be")
    return 0


if __name__ == "__main__":
    sys.exit(main())
