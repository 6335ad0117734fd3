"""korvelan-meta's report in a real browser: the five real studies ranked by
signed value (seed 2024, genes in fewer than three studies excluded), the
page opened offline in headless Chromium: legend, methods text, volcano
linked with the table, the gene view, the layout at 1024 px, and the page
sizes at 20000 genes (and, with KORVELAN_BIG_PAGE set, 499999 genes).

CTest sets KORVELAN_META and KORVELAN_TOOLS_TEST_DATA."""

import csv
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import isolated_point, move_to_point, wait_for  # noqa: E402

STUDIES = ["GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"]
SEED = "2024"
RUNS = "200"


def value(text):
    return math.nan if text == "NA" else float(text)


def meta(out, inputs, *options):
    subprocess.run([os.environ["KORVELAN_META"], "-o", out, "-q", *options, *inputs], check=True,
                   stdout=subprocess.DEVNULL)


@pytest.fixture(scope="module")
def analysis():
    work = tempfile.mkdtemp(prefix="korvelan-meta-page-")
    data = os.environ["KORVELAN_TOOLS_TEST_DATA"]
    out = os.path.join(work, "five")
    meta(out, [os.path.join(data, s + ".tsv") for s in STUDIES],
         "--seed", SEED, "--runs", RUNS, "--min-studies", "3", "--threads", "2")
    with open(os.path.join(out, "results.tsv"), newline="") as table:
        rows = list(csv.DictReader(table, delimiter="\t"))
    yield os.path.join(out, "report.html"), rows
    shutil.rmtree(work, ignore_errors=True)


@pytest.fixture
def page(browser, analysis):
    browser.driver.set_window_size(1400, 1000)
    browser.open(analysis[0])
    assert browser.wait_ready() is not None, "the page never finished drawing"
    yield browser.driver
    logged = [entry for entry in browser.console() if entry["level"] in ("SEVERE", "WARNING")]
    assert logged == [], "errors or warnings in the console"


def volcano_q(row):
    """The q-value the volcano plots: that of the R-mean tail with the
    smaller P-value."""
    left, right = value(row["q_Rmean_left"]), value(row["q_Rmean_right"])
    if math.isnan(left):
        return right
    if math.isnan(right):
        return left
    return left if value(row["p_Rmean_left"]) <= value(row["p_Rmean_right"]) else right


def selected_gene(driver):
    rows = wait_for(lambda: driver.find_elements(By.CSS_SELECTOR, "#gene-body tr[aria-selected=true]"))
    return rows[0].find_element(By.TAG_NAME, "td").get_attribute("title")


def test_legend_explains_columns_ranking_and_terms(page):
    legend = page.find_element(By.ID, "legend")
    assert legend.is_displayed()
    terms = dict(page.execute_script("""
        const items = [...document.querySelectorAll('#legend-list dt')];
        return items.map((dt) => [dt.textContent, dt.nextElementSibling.textContent]);"""))
    for term in ["gene", "class", "R_mean", "Q", "direction", "n_up, n_down", "logFC_mean",
                 "left, right", "up, down", "p_<statistic>_<side>", "q_<statistic>_<side>",
                 "ranking", "absent genes", "universe", "excluded"]:
        assert term in terms, term
    assert "sign(Log2FC) x -log10(pvalue), largest first" in terms["ranking"]
    assert "p_Rmean_left stands for up" in terms["direction"]
    assert "fewer than 3 studies" in terms["excluded"]
    swatch = page.find_element(By.CSS_SELECTOR, "#legend-list .swatch-excluded")
    excluded_cell_colour = swatch.value_of_css_property("background-color")
    assert excluded_cell_colour not in ("rgba(0, 0, 0, 0)", "rgb(255, 255, 255)")


def test_methods_name_the_seed_and_runs_and_copy(page):
    text = page.find_element(By.ID, "methods-text").text
    assert f"seed {SEED}" in text
    assert f"{RUNS} Monte Carlo permutation runs" in text
    assert all(study in text for study in STUDIES)
    page.find_element(By.ID, "methods-copy").click()
    wait_for(lambda: page.find_element(By.ID, "methods-status").text != "")


def test_volcano_has_one_mark_per_gene_with_a_q_value(page, analysis):
    points = page.execute_script("return window.korvelanReport.points()")
    genes = [gene for gene, _, _ in points]
    expected = {r["gene"] for r in analysis[1]
                if not math.isnan(volcano_q(r)) and not math.isnan(value(r["logFC_mean"]))}
    assert len(genes) == len(set(genes))
    assert set(genes) == expected
    # Up genes right of zero, down genes left: the axis is logFC_mean.
    rows = {r["gene"]: r for r in analysis[1]}
    xs = {gene: x for gene, x, _ in points}
    up = [xs[g] for g in xs if value(rows[g]["logFC_mean"]) > 0.5]
    down = [xs[g] for g in xs if value(rows[g]["logFC_mean"]) < -0.5]
    assert up and down and min(up) > max(down)


def test_hovering_names_a_mark_and_clicking_selects_its_row(page, analysis):
    points = page.execute_script("return window.korvelanReport.points()")
    gene, x, y = isolated_point(points, analysis[1][0]["gene"])
    move_to_point(page, page.find_element(By.ID, "volcano"), x, y)
    tooltip = page.find_element(By.ID, "tooltip")
    wait_for(tooltip.is_displayed, timeout=5)
    assert tooltip.text.startswith(gene + " ")
    ActionChains(page).click().perform()
    assert selected_gene(page) == gene
    detail = page.find_element(By.ID, "gene-detail")
    assert detail.is_displayed()
    assert page.find_element(By.ID, "gene-detail-title").text == gene


def test_filtering_the_table_filters_the_volcano(page, analysis):
    before = len(page.execute_script("return window.korvelanReport.points()"))
    page.find_element(By.ID, "filter-text").send_keys("abc")
    wanted = {r["gene"] for r in analysis[1]
              if "abc" in r["gene"].lower() and not math.isnan(volcano_q(r))}
    wait_for(lambda: {g for g, _, _ in page.execute_script("return window.korvelanReport.points()")} == wanted)
    page.find_element(By.ID, "filter-clear").click()
    wait_for(lambda: len(page.execute_script("return window.korvelanReport.points()")) == before)


def test_gene_view_shows_every_study_in_full(page, analysis):
    row = analysis[1][3]
    cell = page.find_element(By.XPATH, f"//tbody[@id='gene-body']/tr/td[@title='{row['gene']}']")
    cell.click()
    detail = page.find_element(By.ID, "gene-detail")
    wait_for(detail.is_displayed)
    shown = page.execute_script("""
        return [...document.querySelectorAll('#gene-detail-table tbody tr')].map((tr) => [
            tr.cells[0].textContent, tr.cells[1].title, tr.cells[3].title,
            tr.cells[0].scrollWidth <= tr.cells[0].clientWidth]);""")
    assert [s[0] for s in shown] == STUDIES
    assert all(s[3] for s in shown), "a study name is clipped"
    for name, rank, fold, _ in shown:
        assert value(rank) == value(row["rank_" + name]) or math.isnan(value(row["rank_" + name]))
        assert value(fold) == value(row["logFC_" + name]) or math.isnan(value(row["logFC_" + name]))
    summary = page.find_element(By.ID, "gene-detail-summary").text
    assert f"up in {row['n_up']}, down in {row['n_down']}" in summary


def test_direction_columns_match_results_tsv(page, analysis):
    shown = page.execute_script("""
        const heads = [...document.querySelectorAll('#gene-head th')].map((th) => th.textContent);
        const rows = [...document.querySelectorAll('#gene-body tr.data')].filter((tr) => !tr.hidden);
        return rows.slice(0, 20).map((tr) =>
            Object.fromEntries([...tr.cells].map((td, c) => [heads[c], td.title])));""")
    for got, want in zip(shown, analysis[1]):
        assert got["gene"] == want["gene"]
        for name in ["direction", "n_up", "n_down", "logFC_mean", "R_mean", "p_Rmean_left",
                     "q_Rmean_left"] + ["logFC_" + s for s in STUDIES]:
            assert got[name] == want[name] or value(got[name]) == value(want[name]), (got["gene"], name)


def test_excluded_genes_have_their_own_colour(page, analysis):
    excluded = [r["gene"] for r in analysis[1] if int(r["n_studies"]) < 3]
    assert excluded, "the run excludes no gene"
    page.find_element(By.ID, "filter-text").send_keys(excluded[0])
    cell = wait_for(lambda: page.find_elements(By.CSS_SELECTOR, "#gene-body td.excluded"))[0]
    normal = page.find_element(By.CSS_SELECTOR, "#gene-body tr.data td:nth-child(2)")
    assert cell.value_of_css_property("background-color") != normal.value_of_css_property("background-color")


def test_at_1024_px_gene_and_sort_column_are_in_view(browser, analysis):
    driver = browser.driver
    driver.set_window_size(1024, 768)
    browser.open(analysis[0])
    assert browser.wait_ready() is not None
    inner = driver.execute_script("return window.innerWidth")
    assert inner <= 1024
    boxes = driver.execute_script("""
        const scroll = document.getElementById('table-scroll').getBoundingClientRect();
        const out = {scroll: [scroll.left, scroll.right]};
        for (const th of document.querySelectorAll('#gene-head th')) {
          const box = th.getBoundingClientRect();
          out[th.textContent] = [box.left, box.right];
        }
        return out;""")
    clipped = driver.execute_script("""
        return [...document.querySelectorAll('#gene-head th')]
            .filter((th) => th.firstChild.scrollWidth > th.firstChild.clientWidth)
            .map((th) => th.textContent);""")
    assert clipped == [], "column names cut short"
    left, right = boxes["scroll"]
    assert right <= inner
    for name in ["gene", "p_Rmean_left"]:
        assert left - 1 <= boxes[name][0] and boxes[name][1] <= right + 1, (name, boxes[name], right)
    # Every other column can be scrolled to.
    last = driver.execute_script("""
        const scroll = document.getElementById('table-scroll');
        scroll.scrollLeft = scroll.scrollWidth;
        const heads = document.querySelectorAll('#gene-head th');
        const box = heads[heads.length - 1].getBoundingClientRect();
        return [box.right, scroll.getBoundingClientRect().right, heads[heads.length - 1].textContent];""")
    assert last[0] <= last[1] + 1 and last[2] == "logFC_GSE29718"
    driver.set_window_size(1400, 1000)


def lists_of(work, genes, studies):
    rng = random.Random(5)
    names = [f"G{k:06d}" for k in range(genes)]
    files = []
    for s in range(studies):
        rng.shuffle(names)
        path = os.path.join(work, f"study{s + 1}.txt")
        with open(path, "w") as out:
            out.write("\n".join(names) + "\n")
        files.append(path)
    return files


def test_page_of_20000_genes_is_under_5_megabytes(browser, tmp_path):
    meta(str(tmp_path / "out"), lists_of(str(tmp_path), 20000, 5), "--seed", "3", "--runs", "1000",
         "--threads", "2")
    page = tmp_path / "out" / "report.html"
    assert page.stat().st_size < 5_000_000, page.stat().st_size
    browser.open(str(page))
    assert browser.wait_ready() is not None
    assert browser.driver.execute_script("return window.korvelanReport.data.count") == 20000


def test_every_number_of_the_page_is_that_of_results_tsv(page, analysis):
    """The page's compact columns (packed ranks, P-values as numerators,
    few-valued columns) read back as the very doubles results.tsv holds."""
    data = page.execute_script("""
        const D = window.korvelanReport.data;
        return {gene: D.gene, p: D.p.map((c) => Array.from(c, (v) => String(v))),
                qv: D.qv.map((c) => Array.from(c, (v) => String(v))),
                ranks: Array.from(D.ranks, (v) => String(v)), rmean: Array.from(D.rmean, (v) => String(v))};""")
    rows = analysis[1]
    assert data["gene"] == [r["gene"] for r in rows]
    names = ["Rmean_right", "Rmean_left", "Rwmean_right", "Rwmean_left", "Q_right", "Q_left"]

    def same(text, expected):
        return value(expected) == (math.nan if text == "NaN" else float(text)) or \
            (text == "NaN" and expected == "NA")
    for c, name in enumerate(names):
        for k, r in enumerate(rows):
            assert same(data["p"][c][k], r["p_" + name]), (r["gene"], name)
            assert same(data["qv"][c][k], r["q_" + name]), (r["gene"], name)
    for k, r in enumerate(rows):
        assert same(data["rmean"][k], r["R_mean"]), r["gene"]
        for s, study in enumerate(STUDIES):
            assert same(data["ranks"][k * len(STUDIES) + s], r["rank_" + study]), (r["gene"], study)
