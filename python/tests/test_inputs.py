"""Files, study sheets and differential-expression DataFrames, read by the
library as korvelan-meta reads them: the same results.tsv (values bit for
bit, column names, row order), run.json and report.html."""

from __future__ import annotations

import json
import os
import pickle
import re
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import korvelan
from conftest import DATA, assert_same_as_tsv

RUNS = 50
SEED = 4242
TABLES = sorted(DATA.glob("GSE*.tsv"))
# What the two front ends' run.json may differ in: who ran it, when, how.
OWN_KEYS = ("program", "command_line", "started_utc", "timings_seconds")


def meta(out: Path, *args) -> Path:
    subprocess.run([os.environ["KORVELAN_META"], *map(str, args), "-o", str(out), "-q",
                    "--runs", str(RUNS), "--seed", str(SEED), "--threads", "2"],
                   capture_output=True, text=True, check=True)
    return out


def same_page(frame: pd.DataFrame, reference: Path, tmp_path: Path, inputs: str | None = None) -> None:
    """write_report's page is korvelan-meta's but for the program's name
    (and, for studies held in memory, the inputs fact, which names files)."""
    korvelan.write_report(frame, tmp_path / "page.html")
    page = (tmp_path / "page.html").read_text(encoding="utf-8")
    expected = (reference / "report.html").read_text(encoding="utf-8")
    expected = expected.replace("korvelan-meta " + korvelan.__version__,
                                "korvelan (Python) " + korvelan.__version__)
    if inputs is not None:
        compact = {"separators": (",", ":"), "ensure_ascii": False}
        expected = expected.replace(json.dumps(["inputs", inputs], **compact),
                                    json.dumps(["inputs", ""], **compact))
    if page != expected:  # pytest's own diff of two large pages takes minutes
        at = next(k for k, (a, b) in enumerate(zip(page + "\0", expected + "\0")) if a != b)
        pytest.fail(f"the pages differ at {at}: {page[at - 80:at + 80]!r} != {expected[at - 80:at + 80]!r}")


def same_run(frame: pd.DataFrame, reference: Path) -> None:
    expected = json.loads((reference / "run.json").read_text(encoding="utf-8"))
    got = dict(frame.attrs["run"])
    assert got["program"] == "korvelan (Python)"
    for key in OWN_KEYS:
        got.pop(key, None)
        expected.pop(key, None)
    assert got == expected


def analyze(data=None, **options) -> pd.DataFrame:
    return korvelan.analyze(data, runs=RUNS, seed=SEED, threads=2, **options)


# (case, analyze's options, korvelan-meta's arguments after the files)
FILE_CASES = [
    ("tables detected", {}, []),
    ("tables by p-value, first row of repeats", {"pvalue": "pvalue", "duplicates": "first"},
     ["--pvalue", "pvalue", "--duplicates", "first"]),
    ("tables signed, exact, sorted up", {"pvalue": "pvalue", "sign_by": "Log2FC", "pvalues": "exact",
                                         "sort_by": "p_Rmean_right", "weights": [3, 1, 1, 2, 1]},
     ["--pvalue", "pvalue", "--sign-by", "Log2FC", "--pvalues", "exact",
      "--sort-by", "p_Rmean_right", "--weights", "3,1,1,2,1"]),
]


@pytest.mark.parametrize("options, args", [c[1:] for c in FILE_CASES], ids=[c[0] for c in FILE_CASES])
def test_files_as_korvelan_meta(options, args, tmp_path):
    frame = analyze(TABLES, **options)
    reference = meta(tmp_path / "meta", *TABLES, *args)
    assert_same_as_tsv(frame, (reference / "results.tsv").read_text(encoding="utf-8"))
    same_run(frame, reference)
    same_page(frame, reference, tmp_path)


def test_sheet_and_universe_file_as_korvelan_meta(studies, tmp_path):
    # Two tables and two top-100 lists, one of them over a universe file.
    lists = {}
    for name in ("GSE24883", "GSE29718"):
        ids = studies[name].sort_values("pvalue", kind="stable")["Symbol"].head(100)
        lists[name] = tmp_path / f"{name}_top.txt"
        lists[name].write_text("".join(f"{g}\n" for g in ids), encoding="utf-8")
    universe = tmp_path / "universe.txt"
    universe.write_text("".join(f"{g}\n" for g in studies["GSE29718"]["Symbol"]), encoding="utf-8")
    sheet = tmp_path / "sheet.tsv"
    sheet.write_text(
        "file\tweight\tuniverse\n"
        f"{DATA / 'GSE12050.tsv'}\t2\t\n{DATA / 'GSE25401.tsv'}\t1\t\n"
        f"{lists['GSE24883'].name}\t1\t20000\n{lists['GSE29718'].name}\t1.5\tuniverse.txt\n",
        encoding="utf-8")
    frame = analyze(sheet=sheet, min_studies=2)
    reference = meta(tmp_path / "meta", "--studies", sheet, "--min-studies", 2)
    assert_same_as_tsv(frame, (reference / "results.tsv").read_text(encoding="utf-8"))
    assert frame.attrs["run"]["sheet"]["file"] == str(sheet)
    same_run(frame, reference)
    same_page(frame, reference, tmp_path)


def test_lists_below_a_universe_file(ranked_lists, tmp_path):
    files = []
    for name, ids in ranked_lists.items():
        files.append(tmp_path / f"{name}.txt")
        files[-1].write_text("".join(f"{g}\n" for g in ids[:200]), encoding="utf-8")
    universe = tmp_path / "universe.txt"
    universe.write_text("".join(f"{g}\n" for g in sorted({g for i in ranked_lists.values() for g in i})),
                        encoding="utf-8")
    frame = analyze(files, universe=universe)
    reference = meta(tmp_path / "meta", *files, "--universe", universe)
    assert_same_as_tsv(frame, (reference / "results.tsv").read_text(encoding="utf-8"))
    assert frame.attrs["run"]["options"]["universe"]["file"] == str(universe)
    same_run(frame, reference)


def test_data_frames_as_their_files(tmp_path):
    # Read to the same doubles as the library reads the files (pandas' own
    # float parser may round the last digit otherwise).
    frames = {t.stem: pd.read_csv(t, sep="\t", keep_default_na=False, dtype={"Symbol": str},
                                  float_precision="round_trip") for t in TABLES}
    frame = analyze(frames, split_ids="///")
    reference = meta(tmp_path / "meta", *TABLES, "--split-ids", "///")
    assert_same_as_tsv(frame, (reference / "results.tsv").read_text(encoding="utf-8"))
    assert {"direction", "n_up", "n_down", "logFC_mean"} <= set(frame.columns)
    assert frame.attrs["run"]["inputs"] == []
    same_page(frame, reference, tmp_path, inputs=", ".join(t.name for t in TABLES))


def _de_tables(studies) -> dict[str, dict[str, pd.DataFrame]]:
    """The five studies in the shapes DE tools return, each table's genes
    its own (so the studies overlap partly), with missing values."""
    shapes: dict[str, dict[str, pd.DataFrame]] = {"limma": {}, "deseq2": {}, "edger": {}, "scanpy": {}}
    for k, (name, t) in enumerate(studies.items()):
        t = t.iloc[k * 50: k * 50 + 400].reset_index(drop=True)
        p = t["pvalue"].astype(float).to_numpy().copy()
        p[3] = np.nan  # a row without a value: skipped and counted
        lfc = t["Log2FC"].astype(float).to_numpy()
        stat = lfc / 0.1
        stat[3] = np.nan
        ids = t["Symbol"].tolist()
        shapes["limma"][name] = pd.DataFrame(
            {"logFC": lfc, "AveExpr": 5.0, "t": stat, "P.Value": p, "adj.P.Val": p, "B": 0.0},
            index=pd.Index(ids))
        shapes["deseq2"][name] = pd.DataFrame(
            {"baseMean": 100.0, "log2FoldChange": lfc, "lfcSE": 0.1, "stat": stat, "pvalue": p, "padj": p},
            index=pd.Index(ids))
        shapes["edger"][name] = pd.DataFrame(
            {"logFC": lfc, "logCPM": 4.0, "PValue": p, "FDR": p}, index=pd.Index(ids, name="gene"))
        shapes["scanpy"][name] = pd.DataFrame(
            {"names": ids, "scores": stat, "logfoldchanges": lfc, "pvals": p, "pvals_adj": p})
    return shapes


@pytest.mark.parametrize("tool", ["limma", "deseq2", "edger", "scanpy"])
def test_de_tool_frames_as_their_tsv(tool, studies, tmp_path):
    frames = _de_tables(studies)[tool]
    files = []
    for name, f in frames.items():
        files.append(tmp_path / f"{name}.tsv")
        f.to_csv(files[-1], sep="\t", index=tool != "scanpy", na_rep="NA")
    frame = analyze(frames)
    reference = meta(tmp_path / "meta", *files)
    assert_same_as_tsv(frame, (reference / "results.tsv").read_text(encoding="utf-8"))
    assert "direction" in frame.columns
    same_run_but_inputs = dict(frame.attrs["run"]["tables"][0])
    expected = json.loads((reference / "run.json").read_text(encoding="utf-8"))["tables"][0]
    assert same_run_but_inputs == expected
    assert expected["skipped_without_value"] == 1


def test_list_of_frames_are_numbered_studies(studies):
    frames = [t.head(300) for t in studies.values()][:3]
    frame = analyze(frames)
    assert frame.attrs["studies"] == ["study1", "study2", "study3"]


@pytest.mark.parametrize("ranks, options, message", [
    ("/no/such/file.tsv", {}, r"/no/such/file\.tsv"),
    (None, {}, r"needs ranks"),
    ([pd.DataFrame({"x": [1.0, 2.0]})], {}, r"cannot tell which column"),
    (TABLES, {"pvalue": "pvalue", "statistic": "Log2FC"}, r"at most one of pvalue and statistic"),
    (TABLES, {"first": "up"}, r'first must be "largest" or "smallest", not "up"'),
    (TABLES, {"sort_by": "p_nothing"}, r'sort_by must be "p_Rmean_right", '),
    (TABLES, {"universe": ["A1BG", "A2M"]}, r'universe applies to absent="below"'),
    (TABLES, {"universe": 20000}, r'^universe applies to absent="below"$'),
])
def test_bad_inputs_name_what_is_wrong(ranks, options, message):
    with pytest.raises((ValueError, TypeError), match=message):
        analyze(ranks, **options)


def test_write_report_needs_a_result(tmp_path):
    with pytest.raises(ValueError, match="korvelan.analyze"):
        korvelan.write_report(pd.DataFrame({"a": [1]}), tmp_path / "page.html")
    assert not list(tmp_path.iterdir())


def test_copies_and_pickles_keep_the_run(tmp_path):
    frame = analyze(TABLES[:2])
    korvelan.write_report(frame.copy(deep=True).head(5), tmp_path / "a.html")
    korvelan.write_report(frame, tmp_path / "b.html")
    korvelan.write_report(pickle.loads(pickle.dumps(frame)), tmp_path / "c.html")
    assert (tmp_path / "a.html").read_bytes() == (tmp_path / "b.html").read_bytes()
    assert (tmp_path / "c.html").read_bytes() == (tmp_path / "b.html").read_bytes()
    assert re.search(r"<html", (tmp_path / "a.html").read_text(encoding="utf-8"))
