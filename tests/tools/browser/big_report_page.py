"""The HTML report at the largest size, 499999 genes, in a real browser
(CTest label big): output.txt and genes.tsv are written here in the
program's and korvelan-prepare's layouts (running the analysis itself would
only add time), korvelan-report --html makes the page, and headless
Chromium must open it with the network off, show the right row count, sort,
filter, scroll to the last row and log no error.

Run as /usr/bin/python3 big_report_page.py with KORVELAN_REPORT set."""

import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser  # noqa: E402

GENES = 499999
STUDIES = 5

LEGEND = (" Columns are appeared as follows:\r\n  \r\n 1: gene number\r\n 2: R-mean\r\n"
          " 3: right-sided P-value for R-mean\r\n 4: left-sided P-value for R-mean\r\n"
          " 5: right-sided P-value for R-weighted mean\r\n"
          " 6: left-sided P-value for R- weighted mean\r\n 7: Q-mean\r\n"
          " 8: right-sided P-value for Q-mean\r\n 9: left-sided P-value for Q-mean\r\n  \r\n")


def klass(line):
    # Non-increasing along the lines: the program writes the highest class first.
    return STUDIES - min(STUDIES - 1, (line - 1) * 10 // GENES // 2)


def write_inputs(directory):
    with open(os.path.join(directory, "genes.tsv"), "w") as genes, \
         open(os.path.join(directory, "output.txt"), "w", newline="") as output:
        genes.write("line\tgene\tclass\t" + "\t".join(f"S{s + 1}" for s in range(STUDIES)) + "\n")
        output.write(LEGEND)
        for line in range(1, GENES + 1):
            c = klass(line)
            ranks = [(line * 7919 + s * 104729) % 100000 + 1 if s < c else -99
                     for s in range(STUDIES)]
            genes.write(f"{line}\tG{line:06d}\t{c}\t" + "\t".join(map(str, ranks)) + "\n")
            p = [((line * (k + 3)) % 1000) / 1000 for k in range(6)]
            r_mean = sum(r for r in ranks if r > 0) / c
            output.write(f"{line:6d}.{r_mean:24.4f}{p[0]:24.16f}{p[1]:24.16f}{p[2]:24.16f}"
                         f"{p[3]:24.16f}{line % 9973:24.4f}{p[4]:24.16f}{p[5]:24.16f}\r\n")


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def main():
    work = tempfile.mkdtemp(prefix="korvelan-big-page-")
    browser = None
    try:
        write_inputs(work)
        page = os.path.join(work, "report.html")
        check(os.system(f"'{os.environ['KORVELAN_REPORT']}' '{work}' --html '{page}' > /dev/null") == 0,
              "korvelan-report failed")
        browser = Browser()
        started = time.time()
        driver = browser.open(page)
        check(browser.wait_ready(timeout=240) is not None, "the page never finished drawing")
        print(f"opened {os.path.getsize(page) / 2 ** 20:.0f} MB in {time.time() - started:.1f} s")
        events = browser.network_events()
        urls = [p["request"]["url"] for m, p in events if m == "Network.requestWillBeSent"]
        check(urls == ["file://" + page], f"requests: {urls}")
        check(not [p for m, p in events if m == "Network.loadingFailed"], "a failed request")
        count = driver.find_element("id", "row-count").text
        check(count.startswith(f"{GENES} of {GENES}"), count)

        def last_drawn_and_expected():
            return driver.execute_script("""
                const rows = [...document.querySelectorAll('#gene-body tr.data')].filter((r) => !r.hidden);
                const r = window.korvelanReport;
                return [rows[rows.length - 1].cells[0].textContent,
                        r.data.gene[r.table.view[r.table.view.length - 1]]];""")

        driver.execute_script("document.querySelector('#gene-head button').click()")  # gene
        driver.execute_script("document.querySelector('#gene-head button').click()")  # descending
        driver.execute_script("const s = document.getElementById('table-scroll'); s.scrollTop = s.scrollHeight;")
        deadline = time.time() + 10
        while True:
            drawn, expected = last_drawn_and_expected()
            if drawn == expected or time.time() > deadline:
                break
            time.sleep(0.05)
        check(drawn == expected == "G000001", f"last row {drawn}, expected {expected}")
        driver.execute_script("const f = document.getElementById('filter-text'); f.value = 'G49999';"
                              "f.form.requestSubmit();")
        count = driver.find_element("id", "row-count").text
        check(count.startswith(f"10 of {GENES}"), count)  # G499990 .. G499999
        severe = [e for e in browser.console() if e["level"] == "SEVERE"]
        check(severe == [], f"console errors: {severe}")
        print("1 passed, 0 failed")
    finally:
        if browser:
            browser.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
