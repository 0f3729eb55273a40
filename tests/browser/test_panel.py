"""The front panel in a real browser (headless Chromium through Selenium),
against `hsimctl serve --emulator`: what the page does must reach the
emulated device. The tests run in order on one server and one browser.

HSIMCTL names the hsimctl to run; HSIM_ARTEFACTS where the screenshot goes.
"""
import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import urllib.request

import pytest

np = pytest.importorskip("numpy", reason="the browser tests need Debian's python3-numpy")

REPO = pathlib.Path(__file__).resolve().parents[2]
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"


def _missing():
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed"
    for path, package in ((CHROMIUM, "chromium"), (CHROMEDRIVER, "chromium-driver")):
        if not os.access(path, os.X_OK):
            return f"{package} is not installed ({path})"
    return None


if _missing():
    pytest.skip(f"browser tests skipped: {_missing()} (tools/setup-deps.sh --browser installs it)",
                allow_module_level=True)

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

ECG_RATE_HZ = 1.5     # 90 beats per minute: an RR interval of 2/3 s
RECORD_PERIOD_S = 0.4  # the CSV record's sine: 2.5 Hz


def wait_for(what, timeout=10.0, message="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = what()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {message}")
        time.sleep(0.1)


class Server:
    def __init__(self):
        hsimctl = os.environ.get("HSIMCTL", str(REPO / "build-test" / "cli" / "hsimctl"))
        if not os.access(hsimctl, os.X_OK):
            pytest.fail(f"no hsimctl at {hsimctl} (set HSIMCTL)")
        self.errors = tempfile.TemporaryFile("w+")
        self.process = subprocess.Popen([hsimctl, "serve", "--emulator", "--listen", "127.0.0.1:0"],
                                        stdout=subprocess.PIPE, stderr=self.errors, text=True)
        line = self.process.stdout.readline()
        match = re.match(r"serving (http://127\.0\.0\.1:\d+/)", line)
        if not match:
            self.process.kill()
            pytest.fail(f"hsimctl serve printed {line!r}; {self.stderr()}")
        self.url = match.group(1)

    def stderr(self):
        self.errors.seek(0)
        return f"exit status {self.process.poll()}, stderr: {self.errors.read()!r}"

    def get(self, path):
        try:
            with urllib.request.urlopen(self.url + path.lstrip("/"), timeout=15) as answer:
                return json.loads(answer.read())
        except OSError as error:
            raise AssertionError(f"GET {path}: {error}; hsimctl serve: {self.stderr()}") from None

    def state(self):
        return self.get("/api/simulators/0/state")

    def played(self, seconds):
        """The device's AC output, in mV, and its sample rate."""
        data = self.get(f"/api/simulators/0/emulator/played?seconds={seconds}")
        return np.asarray(data["ac_mv"], dtype=float), float(data["rate"])

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


@pytest.fixture(scope="module")
def server():
    s = Server()
    yield s
    s.close()


@pytest.fixture(scope="module")
def page(server):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1366,768", "--force-device-scale-factor=1"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    # A laptop screen: the page's viewport is 1366 x 768 CSS pixels.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1366, "height": 768, "deviceScaleFactor": 1, "mobile": False})
    driver.get(server.url)
    wait_for(lambda: driver.find_elements(By.CSS_SELECTOR, "#param-frequency"), message="the controls")
    yield driver
    # Script errors only: a stream cut by the server is the page's to survive.
    logs = [entry for entry in driver.get_log("browser")
            if entry["level"] == "SEVERE" and entry.get("source") != "network"]
    driver.quit()
    assert not logs, f"the page logged errors: {logs}"


def by_id(driver, name):
    return driver.find_element(By.ID, name)


def enter(driver, name, text):
    """Types over a field's text, as a user does, and presses Enter."""
    field = by_id(driver, name)
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(text, Keys.ENTER)


def beat_intervals(mv, rate):
    """The RR intervals (s) of an ECG: the R peaks are the maxima of the
    beats, found as runs above 60 % of the signal's range from its median."""
    per_ms = int(rate / 1000)
    ms = mv[: len(mv) // per_ms * per_ms].reshape(-1, per_ms).mean(axis=1)  # 1 kHz
    base = np.median(ms)
    above = ms - base > 0.6 * (ms.max() - base)
    edges = np.flatnonzero(np.diff(above.astype(int)) == 1) + 1
    peaks = []
    for start in edges:
        end = start + int(np.argmax(~above[start:])) if not above[start:].all() else len(ms)
        peaks.append(start + int(np.argmax(ms[start:end])))
    return np.diff(peaks) / 1000.0


def sine_periods(mv, rate):
    """The periods (s) between rising crossings of the mean, with a
    hysteresis of a quarter of the range against noise and steps."""
    mid = (mv.max() + mv.min()) / 2
    band = (mv.max() - mv.min()) / 4
    crossings, low = [], False
    for i in np.flatnonzero((mv < mid - band) | (mv > mid + band)):
        if mv[i] < mid - band:
            low = True
        elif low:
            crossings.append(i)
            low = False
    return np.diff(crossings) / rate


def test_starts_the_ecg(server, page):
    Select(by_id(page, "function")).select_by_visible_text("ecg")
    by_id(page, "start").click()
    wait_for(lambda: (lambda s: s["playing"] and s["function"]["name"] == "ecg")(server.state()),
             message="the ECG to play")
    wait_for(lambda: "playing" in by_id(page, "playing").text, message="the page to show it plays")


def test_rate_change_reaches_the_device(server, page):
    enter(page, "param-frequency", str(ECG_RATE_HZ))
    wait_for(lambda: by_id(page, "param-frequency").get_attribute("value") == str(ECG_RATE_HZ),
             message="the value read back")
    assert by_id(page, "reason-frequency").text == ""
    # The new rate starts with the next beat (at most 1 s at the old rate).
    time.sleep(3.5)
    mv, rate = server.played(4)
    assert rate == 40000
    rr = beat_intervals(mv, rate)
    assert len(rr) >= 4, f"too few beats found: {rr}"
    expected = 1 / ECG_RATE_HZ
    assert np.all(np.abs(rr[-3:] - expected) < 0.03 * expected), f"RR intervals {rr}, expected {expected:.3f} s"


def test_trace_moves(page):
    canvas = by_id(page, "trace")
    points = int(canvas.get_attribute("data-points"))
    image = page.execute_script("return arguments[0].toDataURL()", canvas)
    time.sleep(1.5)
    later = int(canvas.get_attribute("data-points"))
    # About 1000 points a second; a generous floor for a busy machine.
    assert later - points > 150, f"{later - points} trace points in 1.5 s"
    assert page.execute_script("return arguments[0].toDataURL()", canvas) != image


def test_refused_value_shows_the_reason_and_changes_nothing(server, page):
    enter(page, "param-frequency", "900")
    reason = wait_for(lambda: by_id(page, "reason-frequency").text, message="the reason")
    assert "900" in reason and "frequency" in reason
    wait_for(lambda: by_id(page, "param-frequency").get_attribute("value") == str(ECG_RATE_HZ),
             message="the control to show the device's value again")
    assert server.state()["values"]["frequency"] == pytest.approx(ECG_RATE_HZ)
    time.sleep(2.0)  # a few seconds of trace for the screenshot
    artefacts = pathlib.Path(os.environ.get("HSIM_ARTEFACTS", REPO / "build-test" / "artefacts"))
    artefacts.mkdir(parents=True, exist_ok=True)
    assert page.save_screenshot(str(artefacts / "panel.png"))


def test_record_upload_plays(server, page, tmp_path):
    by_id(page, "stop").click()
    wait_for(lambda: not server.state()["playing"], message="the output to stop")
    record = tmp_path / "sine.csv"
    rows = [f"{np.sin(2 * np.pi * i / 500 / RECORD_PERIOD_S):.5f}" for i in range(2000)]
    record.write_text("# rate=500\n" + "\n".join(rows) + "\n")
    by_id(page, "record-file").send_keys(str(record))
    by_id(page, "record-load").click()
    wait_for(lambda: "sine.csv" in by_id(page, "record-status").text, message="the record to load")
    assert "2000" in by_id(page, "record-status").text
    by_id(page, "record-play").click()
    wait_for(lambda: server.state()["playing"], message="the record to play")
    time.sleep(2.5)
    mv, rate = server.played(2)
    periods = sine_periods(mv, rate)
    assert len(periods) >= 3, f"too few periods: {periods}"
    assert np.all(np.abs(periods - RECORD_PERIOD_S) < 0.02 * RECORD_PERIOD_S), periods
    assert np.ptp(mv) == pytest.approx(2.0, rel=0.1)
