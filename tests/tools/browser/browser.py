"""Debian's headless Chromium under chromedriver, set up for pages that must
work offline: no network (DevTools offline emulation on top of flags that
stop Chromium's own background traffic), a fresh profile, and the browser
and performance logs kept so that tests can read console errors and every
request the page made."""

import json
import os
import shutil
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--hide-scrollbars",
]


class Browser:
    def __init__(self, width=1400, height=1000):
        self.profile = tempfile.mkdtemp(prefix="korvelan-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument("--user-data-dir=" + self.profile)
        options.add_argument(f"--window-size={width},{height}")
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.set_page_load_timeout(300)
        self.driver.set_script_timeout(300)
        self.driver.execute_cdp_cmd("Network.enable", {})
        self.driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
            "offline": True, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})

    def open(self, path):
        # The first tab starts on Chromium's own new-tab page, whose requests
        # are none of the report's: leave it, then forget its log.
        self.driver.get("about:blank")
        self.driver.get_log("performance")
        self.driver.get_log("browser")
        self.driver.get("file://" + os.path.abspath(path))
        return self.driver

    def allow_downloads(self, directory):
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {
            "behavior": "allow", "downloadPath": os.path.abspath(directory)})

    def wait_ready(self, timeout=300):
        """Seconds from navigation start to the page's first complete
        drawing (its script sets korvelanReport.readyAt, then one more
        animation frame paints)."""
        return self.driver.execute_async_script(
            """const done = arguments[arguments.length - 1];
            const deadline = performance.now() + arguments[0] * 1000;
            (function poll() {
              if (window.korvelanReport) {
                requestAnimationFrame(() => done(performance.now() / 1000));
              } else if (performance.now() > deadline) {
                done(null);
              } else {
                setTimeout(poll, 20);
              }
            })();""", timeout)

    def console(self):
        return self.driver.get_log("browser")

    def network_events(self):
        """(method, params) of every Network.* event logged so far."""
        events = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message.get("method", "").startswith("Network."):
                events.append((message["method"], message.get("params", {})))
        return events

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)


def isolated_point(points, avoid):
    """A plot's point [gene, x, y] with no other point within 10 px and a
    gene other than `avoid`, so that a click on it means that gene alone and
    moves the selection."""
    cells = {}
    for k, (_, x, y) in enumerate(points):
        cells.setdefault((int(x // 10), int(y // 10)), []).append(k)

    def isolated(k):
        _, x, y = points[k]
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for other in cells.get((int(x // 10) + dx, int(y // 10) + dy), []):
                    ox, oy = points[other][1:]
                    if other != k and (ox - x) ** 2 + (oy - y) ** 2 < 100:
                        return False
        return True
    return points[next(k for k in range(len(points)) if isolated(k) and points[k][0] != avoid)]


def move_to_point(driver, canvas, x, y):
    """Moves the pointer onto the canvas pixel (x, y), the canvas scrolled
    into view first."""
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", canvas)
    # Offsets count from the centre of the element's border box.
    size = canvas.size
    border = driver.execute_script("return [arguments[0].clientLeft, arguments[0].clientTop]", canvas)
    ActionChains(driver).move_to_element_with_offset(
        canvas, int(round(x + border[0] - size["width"] / 2)),
        int(round(y + border[1] - size["height"] / 2))).perform()


def wait_for(condition, timeout=20):
    """condition()'s first true value, polled until `timeout` seconds."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.05)
    raise AssertionError("timed out")
