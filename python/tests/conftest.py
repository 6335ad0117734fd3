"""Shared data and the C++ reference for the korvelan package's tests.

The build passes KORVELAN_META (the korvelan-meta program, the reference
for every number) and KORVELAN_DATA (the five real studies under
tests/tools/data)."""

from __future__ import annotations

import glob
import math
import os
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

DATA = Path(os.environ.get("KORVELAN_DATA", Path(__file__).parents[2] / "tests/tools/data"))


def _load_studies() -> dict[str, pd.DataFrame]:
    paths = sorted(glob.glob(str(DATA / "GSE*.tsv")))
    assert len(paths) == 5, f"the five studies are missing from {DATA}"
    return {Path(p).stem: pd.read_csv(p, sep="\t", keep_default_na=False,
                                      dtype={"Symbol": str}) for p in paths}


@pytest.fixture(scope="session")
def studies() -> dict[str, pd.DataFrame]:
    return _load_studies()


@pytest.fixture(scope="session")
def ranked_lists(studies) -> dict[str, list[str]]:
    """Each study's genes by ascending p-value (ties in file order)."""
    return {name: t.sort_values("pvalue", kind="stable")["Symbol"].tolist()
            for name, t in studies.items()}


@pytest.fixture(scope="session")
def long_table(studies) -> pd.DataFrame:
    """study, gene, rank: the p-values themselves serve as ranks."""
    parts = [pd.DataFrame({"study": name, "gene": t["Symbol"], "rank": t["pvalue"]})
             for name, t in studies.items()]
    return pd.concat(parts, ignore_index=True)


@pytest.fixture(scope="session")
def wide_table(long_table) -> pd.DataFrame:
    """genes x studies of p-values, NaN where a study has no result."""
    wide = long_table.pivot(index="gene", columns="study", values="rank")
    wide.columns.name = None
    return wide


def _number(text: str) -> float:
    return math.nan if text == "NA" else float(text)


def reference(kind: str, data, tmp_path: Path, **options) -> str:
    """results.tsv of korvelan-meta on the same studies and options: ranked
    lists as one list file per study, a wide table as one table per study
    ranked by its values smallest first, a long table as one long file."""
    inputs = tmp_path / "inputs"
    inputs.mkdir()
    if kind == "lists":
        files = []
        for name, ids in data.items():
            files.append(inputs / f"{name}.txt")
            files[-1].write_text("".join(f"{gene}\n" for gene in ids), encoding="utf-8")
        args = ["--input-format", "lists"]
    elif kind == "table":
        files = []
        for name in data.columns:
            column = data[name].dropna()
            files.append(inputs / f"{name}.tsv")
            files[-1].write_text("gene\tvalue\n" + "".join(
                f"{gene}\t{float(v)!r}\n" for gene, v in column.items()), encoding="utf-8")
        args = ["--input-format", "tables", "--gene", "gene", "--statistic", "value",
                "--first", "smallest"]
    else:
        files = [inputs / "long.tsv"]
        files[0].write_text("study\tgene\trank\n" + "".join(
            f"{s}\t{g}\t{'' if math.isnan(v) else repr(float(v))}\n"
            for s, g, v in zip(data["study"], data["gene"], data["rank"])), encoding="utf-8")
        args = ["--input-format", "long"]
    for key, value in options.items():
        if key == "weights":
            value = ",".join(repr(float(w)) for w in value)
        elif key == "universe" and not isinstance(value, int):
            ids = tmp_path / "universe.txt"
            ids.write_text("".join(f"{u}\n" for u in value), encoding="utf-8")
            value = ids
        args += ["--" + key.replace("_", "-"), str(value)]
    out = tmp_path / "out"
    subprocess.run([os.environ["KORVELAN_META"], *map(str, files), "-o", str(out), "-q", *args],
                   capture_output=True, text=True, check=True)
    tsv = (out / "results.tsv").read_text(encoding="utf-8")
    if kind == "table":
        # The command takes a statistic for a signed one and adds the
        # direction columns; a frame's values are only an order, so the
        # package has no direction to give. Every other column must agree.
        tsv = _without_columns(tsv, ("direction", "n_up", "n_down"))
    return tsv


def _without_columns(tsv: str, names: tuple[str, ...]) -> str:
    rows = [line.split("\t") for line in tsv.rstrip("\n").split("\n")]
    keep = [c for c, name in enumerate(rows[0]) if name not in names]
    assert len(keep) == len(rows[0]) - len(names), "expected the direction columns"
    return "".join("\t".join(r[c] for c in keep) + "\n" for r in rows)


def assert_same_as_tsv(frame: pd.DataFrame, tsv: str) -> None:
    """Same rows in the same order, same columns, every number bit for bit."""
    lines = tsv.rstrip("\n").split("\n")
    header = lines[0].split("\t")
    rows = [line.split("\t") for line in lines[1:]]
    assert header[0] == "gene" and list(frame.columns) == header[1:]
    assert frame.index.name == "gene"
    assert frame.index.tolist() == [r[0] for r in rows]
    # Values held in single precision are written as their shortest float
    # text: compared as floats, after checking the frame holds a float.
    single = {"R_mean", "R_wmean", "Q"}
    if frame.attrs.get("pvalues") == "exact":
        single |= {n for n in header if n.startswith("p_")}
    for c, name in enumerate(header[1:], start=1):
        if name == "direction":
            got_text = ["NA" if not isinstance(v, str) else v for v in frame[name]]
            assert got_text == [r[c] for r in rows], name
            continue
        expected = np.array([_number(r[c]) for r in rows])
        got = frame[name].to_numpy(dtype="float64")
        if name in single:
            narrow = got.astype(np.float32)
            assert np.array_equal(narrow.astype(np.float64), got, equal_nan=True), name
            expected, got = expected.astype(np.float32), narrow
        diff = ~((got == expected) | (np.isnan(got) & np.isnan(expected)))
        assert not diff.any(), (
            f"column {name}: first difference at gene {frame.index[np.argmax(diff)]}: "
            f"{got[np.argmax(diff)]!r} != {expected[np.argmax(diff)]!r}")
