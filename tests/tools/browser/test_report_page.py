"""The HTML report in a real browser: korvelan-prepare, korvelan --seed 2024
and korvelan-report --html on the five real studies, then the page opened
from a file:// URL in headless Chromium with the network off.

The built programs and the data come from the environment (CTest sets
them): KORVELAN_PREPARE, KORVELAN_PROGRAM, KORVELAN_REPORT and
KORVELAN_TOOLS_TEST_DATA."""

import base64
import csv
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import isolated_point, move_to_point, wait_for  # noqa: E402

STUDIES = ["GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"]
P_NAMES = ["Rmean_right", "Rmean_left", "Rwmean_right", "Rwmean_left", "Q_right", "Q_left"]


def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def analyse(work, tables, seed="2024"):
    run([os.environ["KORVELAN_PREPARE"], "-o", work, "--gene", "Symbol", "--pvalue", "pvalue",
         *tables])
    with open(os.path.join(work, "answers.txt"), "rb") as answers:
        run([os.environ["KORVELAN_PROGRAM"], "--seed", seed, "--threads", "2"], cwd=work,
            stdin=answers)
    run([os.environ["KORVELAN_REPORT"], work, "--seed", seed, "--html",
         os.path.join(work, "report.html")])


def value(text):
    return math.nan if text == "NA" else float(text)


@pytest.fixture(scope="module")
def analysis():
    work = tempfile.mkdtemp(prefix="korvelan-page-")
    data = os.environ["KORVELAN_TOOLS_TEST_DATA"]
    analyse(os.path.join(work, "five"), [os.path.join(data, s + ".tsv") for s in STUDIES])
    with open(os.path.join(work, "five", "results.tsv"), newline="") as table:
        rows = list(csv.DictReader(table, delimiter="\t"))
    yield os.path.join(work, "five", "report.html"), rows
    shutil.rmtree(work, ignore_errors=True)


@pytest.fixture
def page(browser, analysis):
    browser.open(analysis[0])
    assert browser.wait_ready() is not None, "the page never finished drawing"
    yield browser.driver
    severe = [entry for entry in browser.console() if entry["level"] == "SEVERE"]
    assert severe == [], "errors in the console"


def shown_rows(driver, count):
    """(gene, {column: exact value text}) of the first `count` rows shown."""
    return driver.execute_script("""
        const heads = [...document.querySelectorAll('#gene-head th')].map((th) => th.textContent);
        const rows = [...document.querySelectorAll('#gene-body tr.data')].filter((tr) => !tr.hidden);
        return rows.slice(0, arguments[0]).map((tr) =>
            Object.fromEntries([...tr.cells].map((td, c) => [heads[c], td.title])));""", count)


def view_genes(driver):
    """The genes of every row the table holds now, in its order; the rows
    drawn must be the first of them."""
    genes = driver.execute_script(
        "const r = window.korvelanReport; return Array.from(r.table.view, (i) => r.data.gene[i]);")
    drawn = [row["gene"] for row in shown_rows(driver, len(genes))]
    assert drawn == genes[:len(drawn)] and len(drawn) == min(len(genes), len(drawn)) > 0
    return genes


def row_count_text(driver):
    return driver.find_element(By.ID, "row-count").text


def test_loads_offline_with_no_request_but_its_own_file(browser, analysis):
    browser.open(analysis[0])
    assert browser.wait_ready() is not None
    events = browser.network_events()
    urls = [params["request"]["url"] for method, params in events
            if method == "Network.requestWillBeSent"]
    assert urls == ["file://" + os.path.abspath(analysis[0])]
    failed = [params for method, params in events if method == "Network.loadingFailed"]
    assert failed == []
    assert [e for e in browser.console() if e["level"] in ("SEVERE", "WARNING")] == []


def test_summary_counts_match_results_tsv(page, analysis):
    rows = analysis[1]
    cells = page.execute_script("""
        return [...document.querySelectorAll('#pass-table tbody tr')]
            .map((tr) => [tr.cells[0].textContent, Number(tr.cells[1].textContent)]);""")
    expected = [[name, sum(value(r["q_" + name]) < 0.05 for r in rows)] for name in P_NAMES]
    assert cells == expected
    assert expected[1] == ["Rmean_left", 74]
    facts = dict(page.execute_script("""
        return [...document.querySelectorAll('#facts tbody tr')]
            .map((tr) => [tr.cells[0].textContent, tr.cells[1].textContent]);"""))
    assert facts["seed"] == "2024"
    assert facts["runs"] == "1000"
    assert facts["genes"] == "7894"
    sizes = page.execute_script("""
        return [...document.querySelectorAll('#study-table tbody tr')]
            .map((tr) => Number(tr.cells[1].textContent));""")
    assert sizes == [6573, 6573, 6944, 7131, 6944]


def test_first_rows_are_the_fixed_seed_results(page, analysis):
    shown = shown_rows(page, 10)
    # Seed 2024, 1000 runs: eight genes never had a mean rank as small in
    # any run (p_Rmean_left 0), smallest R-mean first, then MMP9.
    assert [row["gene"] for row in shown] == [
        "FAM13A", "ABHD5", "ACVR1C", "MAP3K5", "SLC27A2", "ZFAND5", "PCCA", "ALDH6A1", "MMP9",
        "RAD21"]
    assert shown[1]["GSE12050"] == "43" and shown[1]["GSE29718"] == "8"
    assert shown[8]["p_Rmean_left"] == "3.360215146e-7"
    # Every value as results.tsv has it, to the last bit.
    for row, expected in zip(shown, analysis[1]):
        assert row["gene"] == expected["gene"]
        for name in ["R_mean", "Q"] + ["p_" + n for n in P_NAMES] + ["q_" + n for n in P_NAMES]:
            got, want = value(row[name]), value(expected[name])
            assert got == want or (math.isnan(got) and math.isnan(want)), (row["gene"], name)
        assert row["R_wmean"] == "NA"


def test_sorting_by_a_column_and_back(page, analysis):
    rows = analysis[1]
    header = page.find_element(By.XPATH, "//th/button[text()='R_mean']")
    header.click()
    smallest = min(range(len(rows)), key=lambda i: (value(rows[i]["R_mean"]), i))
    assert shown_rows(page, 1)[0]["gene"] == rows[smallest]["gene"]
    assert header.find_element(By.XPATH, "..").get_attribute("aria-sort") == "ascending"
    header.click()
    largest = min(range(len(rows)), key=lambda i: (-value(rows[i]["R_mean"]), i))
    assert shown_rows(page, 1)[0]["gene"] == rows[largest]["gene"]
    page.find_element(By.XPATH, "//th/button[text()='gene']").click()
    assert shown_rows(page, 1)[0]["gene"] == min(r["gene"] for r in rows)


def test_filters_by_text_and_thresholds(page, analysis):
    rows = analysis[1]
    text = page.find_element(By.ID, "filter-text")
    text.send_keys("abc")
    wanted = [r["gene"] for r in rows if "abc" in r["gene"].lower()]
    wait_for(lambda: row_count_text(page).startswith(f"{len(wanted)} of 7894"))
    assert view_genes(page) == wanted
    page.find_element(By.ID, "filter-clear").click()
    page.find_element(By.ID, "filter-q").send_keys("0.05")
    page.find_element(By.ID, "filter-n").send_keys("5")
    wanted = [r["gene"] for r in rows
              if value(r["q_Rmean_left"]) < 0.05 and int(r["class"]) >= 5]
    wait_for(lambda: row_count_text(page).startswith(f"{len(wanted)} of 7894"))
    assert view_genes(page) == wanted


def test_clicking_a_point_selects_its_gene(page):
    points = page.execute_script("return window.korvelanReport.points()")
    # Not the first row's gene: the selection must move to the gene clicked.
    gene, x, y = isolated_point(points, "ABHD5")
    move_to_point(page, page.find_element(By.ID, "volcano"), x, y)
    tooltip = page.find_element(By.ID, "tooltip")
    wait_for(tooltip.is_displayed, timeout=5)
    assert tooltip.text.startswith(gene + " ")
    ActionChains(page).click().perform()
    selected = wait_for(lambda: page.find_elements(By.CSS_SELECTOR, "#gene-body tr[aria-selected=true]"))
    assert selected[0].find_element(By.TAG_NAME, "td").get_attribute("title") == gene
    assert f"Selected gene: {gene} " in page.find_element(By.ID, "selected-caption").text
    labels = page.execute_script(
        "return [...document.querySelectorAll('#selected-plot text')].map((t) => t.textContent)")
    assert all(study in labels for study in STUDIES)


def test_legend_hides_and_shows_a_class(page, analysis):
    classes = {r["gene"]: r["class"] for r in analysis[1]}
    drawn = lambda: {gene for gene, _, _ in page.execute_script("return window.korvelanReport.points()")}
    before = drawn()
    toggle = page.find_element(By.XPATH, "//div[@id='class-legend']/button[span='class 5']")
    toggle.click()
    assert toggle.get_attribute("aria-pressed") == "false"
    assert drawn() == {gene for gene in before if classes[gene] != "5"}
    toggle.click()
    assert drawn() == before


def test_keyboard_moves_the_selection(page, analysis):
    page.find_element(By.ID, "table-scroll").send_keys(Keys.ARROW_DOWN, Keys.ARROW_DOWN)
    selected = wait_for(lambda: page.find_elements(By.CSS_SELECTOR, "#gene-body tr[aria-selected=true]"))
    assert selected[0].find_element(By.TAG_NAME, "td").get_attribute("title") == analysis[1][1]["gene"]
    page.find_element(By.ID, "table-scroll").send_keys(Keys.END)
    wait_for(lambda: "Selected gene: " + analysis[1][-1]["gene"] + " " in
             page.find_element(By.ID, "selected-caption").text)
    # The selected row is drawn, and stays so once the scrolling settles.
    time.sleep(0.3)
    selected = page.find_elements(By.CSS_SELECTOR, "#gene-body tr[aria-selected=true]")
    assert [row.find_element(By.TAG_NAME, "td").get_attribute("title") for row in selected] == [
        analysis[1][-1]["gene"]]


def test_export_writes_the_filtered_rows(browser, page, analysis, tmp_path):
    browser.allow_downloads(tmp_path)
    page.find_element(By.ID, "filter-q").send_keys("0.05")
    wait_for(lambda: row_count_text(page).startswith("74 of"))
    page.find_element(By.ID, "export").click()
    exported = tmp_path / "korvelan-genes.tsv"
    wait_for(exported.exists)
    wait_for(lambda: exported.read_text().endswith("\n"))
    lines = exported.read_text().splitlines()
    assert lines[0].split("\t")[:4] == ["gene", "class", "studies", "GSE12050"]
    exported_rows = [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[1:]]
    expected = [r for r in analysis[1] if value(r["q_Rmean_left"]) < 0.05]
    assert [r["gene"] for r in exported_rows] == [r["gene"] for r in expected]
    for got, want in zip(exported_rows, expected):
        for name in ["p_" + n for n in P_NAMES] + ["q_" + n for n in P_NAMES]:
            assert value(got[name]) == value(want[name]) or math.isnan(value(want[name]))


def test_printing_lays_out_the_first_rows_shown(page):
    page.find_element(By.ID, "filter-n").send_keys("3")
    wait_for(lambda: "of 7894" in row_count_text(page) and not row_count_text(page).startswith("7894"))
    pdf = page.execute_cdp_cmd("Page.printToPDF", {})
    assert base64.b64decode(pdf["data"]).startswith(b"%PDF")
    printed = page.execute_script("""
        return [...document.querySelectorAll('#print-table tbody tr')]
            .map((tr) => tr.cells[0].textContent);""")
    assert printed == view_genes(page)[:200]


def test_hostile_gene_ids_stay_text(browser, tmp_path):
    """Gene ids that would end the data block, open a comment or inject
    markup if written as HTML; the page must show them as they are."""
    ids = ["</script><script>document.title='owned'</script>", "<!--x", "a\u2028b",
           "<img src=x onerror=alert(1)>", "Q&A", "\u00e9t\u00e9"]
    tables = []
    for s in range(2):
        path = tmp_path / f"study{s}.tsv"
        lines = ["Symbol\tpvalue"] + [f"{gene}\t{(k + 1 + s) / 10}" for k, gene in enumerate(ids)]
        lines += [f"G{k}\t{(k + 2) / 100}" for k in range(20)]
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
        tables.append(str(path))
    analyse(str(tmp_path / "work"), tables, seed="7")
    browser.open(str(tmp_path / "work" / "report.html"))
    assert browser.wait_ready() is not None
    driver = browser.driver
    assert driver.title == "KORVELAN results"
    genes = driver.execute_script("return window.korvelanReport.data.gene")
    assert sorted(genes) == sorted(ids + [f"G{k}" for k in range(20)])
    assert driver.find_elements(By.CSS_SELECTOR, "#gene-body img") == []
    assert [e for e in browser.console() if e["level"] == "SEVERE"] == []
