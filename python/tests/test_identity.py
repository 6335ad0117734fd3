"""korvelan.analyze gives, number for number and row for row, the
results.tsv of korvelan-meta on the five real studies, for each input shape
and the options that change the rank matrix or the P-values."""

from __future__ import annotations

import os
import subprocess

import numpy as np
import pandas as pd
import pytest

import korvelan
from conftest import assert_same_as_tsv, reference

RUNS = 100

# (case, shape, analyze options; korvelan-meta gets the same options).
CASES = [
    ("lists default", "lists", {}),
    ("lists missing", "lists", {"absent": "missing"}),
    ("lists below universe size", "lists", {"universe": 20000, "min_studies": 2}),
    ("lists exact weighted", "lists", {"pvalues": "exact", "weights": [24, 30, 18, 40, 22]}),
    ("table default", "table", {}),
    ("table below", "table", {"absent": "below", "min_studies": 3}),
    ("table exact", "table", {"pvalues": "exact", "weights": [1.5, 1, 1, 2, 0.5]}),
    ("long default", "long", {}),
    ("long below", "long", {"absent": "below", "universe": 9000}),
]


@pytest.mark.parametrize("shape, options", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_same_as_library(shape, options, ranked_lists, wide_table, long_table, tmp_path):
    data = {"lists": ranked_lists, "table": wide_table, "long": long_table}[shape]
    frame = korvelan.analyze(data, runs=RUNS, seed=2024, threads=2, **options)
    assert_same_as_tsv(frame, reference(shape, data, tmp_path, runs=RUNS, seed=2024, threads=2,
                                        **options))
    assert frame.attrs["runs"] == RUNS and frame.attrs["seed"] == 2024
    assert frame.attrs["version"] == korvelan.__version__
    assert frame["n_studies"].dtype == np.int64
    assert all(frame[c].dtype == np.float64 for c in frame.columns if c != "n_studies")


def test_universe_list_adds_unlisted_genes(ranked_lists, tmp_path):
    universe = sorted({g for ids in ranked_lists.values() for g in ids} | {"ZZ_NOT_LISTED"})
    frame = korvelan.analyze(ranked_lists, runs=20, seed=7, universe=universe)
    assert_same_as_tsv(frame, reference("lists", ranked_lists, tmp_path, runs=20, seed=7,
                                        universe=universe))
    assert frame.loc["ZZ_NOT_LISTED", "n_studies"] == 0
    assert frame.attrs["universe"] == len(universe)


def test_thread_count_changes_nothing(ranked_lists):
    one = korvelan.analyze(ranked_lists, runs=RUNS, seed=99, threads=1)
    two = korvelan.analyze(ranked_lists, runs=RUNS, seed=99, threads=2)
    pd.testing.assert_frame_equal(one, two, check_exact=True)


def test_drawn_seed_is_recorded_and_reproduces(ranked_lists):
    drawn = korvelan.analyze(ranked_lists, runs=10)
    seed = drawn.attrs["seed"]
    assert 1 <= seed <= korvelan.MAX_SEED
    again = korvelan.analyze(ranked_lists, runs=10, seed=seed)
    pd.testing.assert_frame_equal(drawn, again, check_exact=True)


def test_shapes_agree_on_the_same_ranks(ranked_lists):
    """Positions in lists, ranks in a wide table and in a long table are one
    rank matrix, so one result."""
    long = pd.DataFrame([(s, g, float(k + 1)) for s, ids in ranked_lists.items()
                         for k, g in enumerate(ids)], columns=["study", "gene", "rank"])
    wide = long.pivot(index="gene", columns="study", values="rank")
    frames = [korvelan.analyze(ranked_lists, runs=20, seed=3, absent="missing"),
              korvelan.analyze(long, runs=20, seed=3),
              korvelan.analyze(wide, runs=20, seed=3)]
    for other in frames[1:]:
        pd.testing.assert_frame_equal(frames[0], other, check_exact=True,
                                      check_index_type=False, check_names=False)


def test_input_objects_are_not_changed(wide_table):
    before = wide_table.copy()
    korvelan.analyze(wide_table, runs=5, seed=1)
    pd.testing.assert_frame_equal(wide_table, before, check_exact=True)


@pytest.mark.parametrize("duplicates", ["first", "best", "mean"])
def test_duplicates_resolved_as_the_library_does(duplicates, long_table, tmp_path):
    # Every 50th row again, with the rank of the row after it.
    again = long_table.iloc[::50].copy()
    again["rank"] = long_table["rank"].shift(-1).iloc[::50].fillna(0.5).to_numpy()
    data = pd.concat([long_table, again], ignore_index=True)
    frame = korvelan.analyze(data, runs=20, seed=11, duplicates=duplicates)
    assert_same_as_tsv(frame, reference("long", data, tmp_path, runs=20, seed=11,
                                        duplicates=duplicates))


@pytest.mark.parametrize("duplicates", ["first", "best", "mean"])
def test_duplicates_in_lists_resolved_as_the_library_does(duplicates, ranked_lists, tmp_path):
    # Each list names its 3rd gene again at place 10 and its first again last.
    data = {name: ids[:9] + [ids[2]] + ids[9:] + [ids[0]] for name, ids in ranked_lists.items()}
    frame = korvelan.analyze(data, runs=20, seed=11, duplicates=duplicates)
    assert_same_as_tsv(frame, reference("lists", data, tmp_path, runs=20, seed=11,
                                        duplicates=duplicates))


def test_weights_by_name_equal_weights_in_order(ranked_lists):
    names = list(ranked_lists)
    weights = [24, 30, 18, 40, 22]
    in_order = korvelan.analyze(ranked_lists, runs=10, seed=4, weights=weights)
    by_name = korvelan.analyze(ranked_lists, runs=10, seed=4,
                               weights=pd.Series(weights[::-1], index=names[::-1]))
    pd.testing.assert_frame_equal(in_order, by_name, check_exact=True)


def test_study_settings_same_as_the_study_sheet(ranked_lists, tmp_path):
    """Four full lists and one cut to its top 200 over its whole list as
    universe, with its own weight: the studies argument gives the table of
    korvelan-meta --studies."""
    names = list(ranked_lists)
    data = dict(ranked_lists)
    data[names[0]] = ranked_lists[names[0]][:200]
    sheet = pd.DataFrame({"study": names, "absent": ["below"] + ["missing"] * 4,
                          "universe": [ranked_lists[names[0]]] + [None] * 4,
                          "weight": [2.0] + [None] * 4})
    frame = korvelan.analyze(data, runs=20, seed=5, studies=sheet)
    (tmp_path / "universe.txt").write_text("".join(f"{g}\n" for g in ranked_lists[names[0]]))
    rows = ["file\tstudy\tabsent\tuniverse\tweight"]
    for k, name in enumerate(names):
        (tmp_path / f"{name}.txt").write_text("".join(f"{g}\n" for g in data[name]), encoding="utf-8")
        rows.append(f"{name}.txt\t{name}\t" + ("below\tuniverse.txt\t2" if k == 0 else "missing\t\t"))
    (tmp_path / "sheet.tsv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    subprocess.run([os.environ["KORVELAN_META"], "--studies", str(tmp_path / "sheet.tsv"), "-o",
                    str(tmp_path / "out"), "-q", "--runs", "20", "--seed", "5"],
                   capture_output=True, text=True, check=True)
    assert_same_as_tsv(frame, (tmp_path / "out" / "results.tsv").read_text(encoding="utf-8"))


def test_study_universes_as_the_common_one(ranked_lists):
    tops = {name: ids[:100] for name, ids in ranked_lists.items()}
    common = korvelan.analyze(tops, runs=10, seed=4, universe=20000)
    sheet = pd.DataFrame({"study": list(tops), "universe": [20000] * len(tops)})
    own = korvelan.analyze(tops, runs=10, seed=4, studies=sheet)
    pd.testing.assert_frame_equal(common, own, check_exact=True)
    with pytest.raises(ValueError, match='studies has no row for study'):
        korvelan.analyze(tops, runs=10, seed=4, studies=sheet.iloc[1:])
    with pytest.raises(ValueError, match="not one of study, weight, absent, universe"):
        korvelan.analyze(tops, runs=10, seed=4, studies=sheet.assign(logfc=1))
