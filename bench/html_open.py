"""Opens a report page in headless Chromium (the test's set-up: file://,
network off) REPEAT times and prints the best and median time from
navigation start to the first complete drawing, then, on the last load,
the time of a sort (R_mean), a text filter, a threshold filter and a jump
to the end of the table, each until the next frame is painted."""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "tools", "browser"))
from browser import Browser  # noqa: E402

ACTION = """
const done = arguments[arguments.length - 1];
const start = performance.now();
(function () { %s })();
requestAnimationFrame(() => setTimeout(() => done(performance.now() - start), 0));
"""


def timed(driver, script):
    return driver.execute_async_script(ACTION % script) / 1000


def main(page, repeat):
    loads = []
    browser = Browser()
    try:
        for _ in range(repeat):
            started = time.time()
            browser.open(page)
            ready = browser.wait_ready()
            loads.append((ready, time.time() - started))
        driver = browser.driver
        memory = driver.execute_script("return performance.memory.usedJSHeapSize") / 2 ** 20
        sort = timed(driver, "document.querySelector('#gene-head th:nth-child(9) button').click();")
        text = timed(driver, "const f = document.getElementById('filter-text'); f.value = '12';"
                             "f.form.requestSubmit();")
        threshold = timed(driver, "document.getElementById('filter-text').value = '';"
                                  "const q = document.getElementById('filter-q'); q.value = '0.5';"
                                  "q.form.requestSubmit();")
        scroll = timed(driver, "const s = document.getElementById('table-scroll');"
                               "s.scrollTop = s.scrollHeight;")
        errors = [e for e in browser.console() if e["level"] == "SEVERE"]
    finally:
        browser.close()
    to_draw = sorted(ready for ready, _ in loads)
    print(f"open to first drawing: best {to_draw[0]:.2f} s, median {statistics.median(to_draw):.2f} s"
          f" (driver round trip median {statistics.median(w for _, w in loads):.2f} s);"
          f" JS heap {memory:.0f} MB")
    print(f"sort by R_mean {sort:.2f} s, text filter {text:.2f} s, q filter {threshold:.2f} s,"
          f" scroll to the end {scroll:.3f} s; console errors: {len(errors)}")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 3)
