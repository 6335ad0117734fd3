"""Bad input raises TypeError or ValueError with a message that names the
fault (and the study and gene where there is one), never a crash or a
result."""

from __future__ import annotations

import inspect
import math

import numpy as np
import pandas as pd
import pytest

import korvelan

GOOD = {"A": ["a", "b", "c"], "B": ["c", "b", "a"]}


def wide(columns: dict, index=("a", "b")) -> pd.DataFrame:
    return pd.DataFrame(columns, index=list(index))


def long(study, gene, rank) -> pd.DataFrame:
    return pd.DataFrame({"study": study, "gene": gene, "rank": rank})


# (case, ranks, options, exception, pattern the message must match)
CASES = [
    # The input's shape and types.
    ("not a mapping or DataFrame", [["a", "b"]], {}, TypeError, "ranks must be a mapping"),
    ("study name not a string", {1: ["a", "b"], "B": ["a", "b"]}, {}, TypeError,
     "study name must be a string, not int 1"),
    ("list given as one string", {"A": "abc", "B": ["a", "b"]}, {}, TypeError,
     "study 'A' must be a sequence of gene ids"),
    ("NaN in a ranked list", {"A": ["a", math.nan], "B": ["a", "b"]}, {}, TypeError,
     "study 'A': entry 2 is missing"),
    ("None in a ranked list", {"A": ["a", "b"], "B": [None, "b"]}, {}, TypeError,
     "study 'B': entry 1 is missing"),
    ("number as gene id", {"A": ["a", 5], "B": ["a", "b"]}, {}, TypeError,
     "study 'A': gene id 2 is int 5, not a string"),
    ("table with integer index", pd.DataFrame({"A": [1.0, 2], "B": [2.0, 1]}), {}, TypeError,
     r"index \(gene ids\): gene id 1 is int 0"),
    ("NaN gene id in a table", wide({"A": [1.0, 2], "B": [2.0, 1]}, index=("a", math.nan)), {},
     TypeError, "entry 2 is missing"),
    ("text ranks in a table", wide({"A": ["x", "y"], "B": [1.0, 2]}), {}, TypeError,
     "study 'A' must hold numbers"),
    ("boolean ranks in a table", wide({"A": [True, False], "B": [1.0, 2]}), {}, TypeError,
     "study 'A' must hold numbers"),
    ("missing gene in a long table", long(["A", "A", "B", "B"], ["a", None, "a", "b"],
                                          [1, 2, 1, 2]), {}, TypeError,
     "column 'gene': entry 2 is missing"),
    ("number as study in a long table", long([1, 1, 2, 2], ["a", "b", "a", "b"], [1, 2, 1, 2]),
     {}, TypeError, "column 'study': study name 1 is int 1, not a string"),
    ("pandas NA in a string column", long(pd.array(["A", "A", "B", "B"], dtype="string"),
                                          pd.array(["a", "b", None, "b"], dtype="string"),
                                          [1, 2, 1, 2]), {}, TypeError,
     "column 'gene': entry 3 is missing"),
    ("missing study in a long table", long(["A", math.nan, "B", "B"], ["a", "b", "a", "b"],
                                           [1, 2, 1, 2]), {}, TypeError,
     "column 'study': entry 2 is missing"),
    # What the studies hold.
    ("gene twice in a list", {"A": ["a", "b", "a"], "B": ["a", "b"]}, {}, ValueError,
     r'study "A" lists "a" twice.*duplicates="first"'),
    ("gene twice in a table", wide({"A": [1.0, 2, 3], "B": [3.0, 2, 1]}, index="aba"), {},
     ValueError, 'study "A" lists "a" twice'),
    ("gene twice in a long table", long(["A", "A", "B", "B"], ["a", "a", "a", "b"],
                                        [1, 2, 1, 2]), {}, ValueError,
     'study "A" lists "a" twice'),
    ("study twice in a table", pd.DataFrame([[1.0, 2], [2, 1]], index=["a", "b"],
                                            columns=["A", "A"]), {}, ValueError,
     'two studies are named "A"'),
    ("empty list", {"A": [], "B": ["a", "b"]}, {}, ValueError, 'study "A" ranks 0 ids'),
    ("one-gene list", {"A": ["a"], "B": ["a", "b"]}, {}, ValueError, 'study "A" ranks 1 id'),
    ("column of NaN", wide({"A": [math.nan, math.nan], "B": [1.0, 2]}), {}, ValueError,
     'study "A" ranks 0 ids'),
    ("lone surrogate in a gene id", {"A": ["a", "b\ud800"], "B": ["a", "b"]}, {}, ValueError,
     r'study "A", gene id 2 .* is not text that UTF-8 can hold'),
    ("lone surrogate in a study name", {"A": ["a", "b"], "\udc80": ["a", "b"]}, {}, ValueError,
     "study name 2 .* is not text that UTF-8 can hold"),
    ("lone surrogate in a long table", long(["A", "A", "B", "B"], ["a", "b", "a", "\ud800"],
                                            [1, 2, 1, 2]), {}, ValueError,
     "column 'gene', row 4 .* is not text"),
    ("tab in a gene id", {"A": ["a", "b\tc"], "B": ["a", "b"]}, {}, ValueError,
     'study "A", position 2: the id'),
    ("no study", {}, {}, ValueError, "2 to 98 studies, not 0"),
    ("one study", {"A": ["a", "b"]}, {}, ValueError, "2 to 98 studies, not 1"),
    ("99 studies", {f"S{k}": ["a", "b"] for k in range(99)}, {}, ValueError,
     "2 to 98 studies, not 99"),
    ("empty table", pd.DataFrame(), {}, ValueError, "2 to 98 studies, not 0"),
    # Options.
    ("too few weights", GOOD, {"weights": [1]}, ValueError, "1 weights for 2 studies"),
    ("NaN weight", GOOD, {"weights": [1, math.nan]}, ValueError,
     r"weight 2 \(nan\) is not a positive number"),
    ("infinite weight", GOOD, {"weights": np.array([math.inf, 1])}, ValueError,
     r"weight 1 \(inf\) is not a positive number"),
    ("zero weight", GOOD, {"weights": [0, 1]}, ValueError, "weight 1 .* not a positive number"),
    ("negative weight", GOOD, {"weights": {"A": 1, "B": -1}}, ValueError,
     r"weight 2 \(-1\) is not a positive number"),
    ("weight beyond single precision", GOOD, {"weights": [1e39, 1]}, ValueError,
     "within the float range"),
    ("weight rounding to single-precision 0", GOOD, {"weights": [1, 1e-50]}, ValueError,
     "within the float range"),
    ("text weight", GOOD, {"weights": [1, "x"]}, TypeError, "weight 2 is str 'x'"),
    ("weights as a string", GOOD, {"weights": "12"}, TypeError, "weights must be a sequence"),
    ("weights naming another study", GOOD, {"weights": {"A": 1, "C": 2}}, ValueError,
     "no study named 'C'; no weight for 'B'"),
    ("runs 0", GOOD, {"runs": 0}, ValueError, "runs must be a whole number from 1 to"),
    ("runs beyond 32 bits", GOOD, {"runs": 2**31}, ValueError, "runs must be a whole number"),
    ("runs a float", GOOD, {"runs": 10.0}, TypeError, "runs must be a whole number, not float"),
    ("seed 0", GOOD, {"seed": 0}, ValueError, "seed must be a whole number from 1 to 2147483646"),
    ("seed too large", GOOD, {"seed": 2147483647}, ValueError, "not 2147483647"),
    ("seed negative", GOOD, {"seed": -5}, ValueError, "not -5"),
    ("seed a string", GOOD, {"seed": "42"}, TypeError, "seed must be a whole number, not str"),
    ("seed a bool", GOOD, {"seed": True}, TypeError, "seed must be a whole number"),
    ("threads 0", GOOD, {"threads": 0}, ValueError, "threads must be a whole number from 1 to 256"),
    ("threads 257", GOOD, {"threads": 257}, ValueError, "not 257"),
    ("absent unknown", GOOD, {"absent": "above"}, ValueError, 'absent must be "below" or'),
    ("absent not a string", GOOD, {"absent": 1}, TypeError, "absent must be"),
    ("pvalues unknown", GOOD, {"pvalues": "plus_one"}, ValueError, 'pvalues must be "plus-one"'),
    ("duplicates unknown", GOOD, {"duplicates": "last"}, ValueError, "duplicates must be"),
    ("min_studies 0", GOOD, {"min_studies": 0}, ValueError, "min_studies must be"),
    ("min_studies above studies", GOOD, {"min_studies": 3}, ValueError,
     r"min_studies must be from 1 to the number of studies \(2\), not 3"),
    ("universe 0", GOOD, {"universe": 0}, ValueError, "universe"),
    ("universe smaller than the genes", GOOD, {"universe": 2}, ValueError,
     "universe size 2 is smaller than the 3 genes"),
    ("universe above 2^23", GOOD, {"universe": 2**23 + 1}, ValueError,
     r"universe \(a size\) must be a whole number from 1 to 8388608, not 8388609"),
    ("universe beyond 64 bits", GOOD, {"universe": 2**64}, ValueError, "from 1 to 8388608, not"),
    ("universe without a listed gene", GOOD, {"universe": ["a", "b"]}, ValueError,
     'lists "c", which is not in the universe'),
    ("universe listing a gene twice", GOOD, {"universe": ["a", "b", "c", "c"]}, ValueError,
     'universe lists "c" twice'),
    ("universe with absent genes missing", GOOD, {"universe": 10, "absent": "missing"},
     ValueError, 'universe applies to absent="below"'),
    ("universe with a table's default", pd.DataFrame({"A": [1.0, 2], "B": [2.0, 1]},
                                                     index=["a", "b"]), {"universe": 10},
     ValueError, 'universe applies to absent="below", not to absent="missing"'),
    ("infinite rank in a table", wide({"A": [1.0, math.inf], "B": [2.0, 1]}), {}, ValueError,
     r"study 'A' has a non-finite rank \(inf\) for gene"),
    ("infinite rank in a long table", long(["A", "A", "B", "B"], ["a", "b", "a", "b"],
                                           [1, -math.inf, 1, 2]), {}, ValueError,
     r"column 'rank' has a non-finite rank \(-inf\) for gene 'b'"),
    ("weights overflow their single-precision sum", {"A": ["a", "b"], "B": ["b", "a"], "C": ["a", "b"]},
     {"weights": [3e38, 3e38, 3e38]}, ValueError, "the weights add up to more than single precision"),
    ("universe a float", GOOD, {"universe": 10.5}, TypeError, "universe must be"),
    ("classes", GOOD, {"classes": [1, 1, 2]}, NotImplementedError, "classes"),
]


@pytest.mark.parametrize("ranks, options, error, pattern", [c[1:] for c in CASES],
                         ids=[c[0] for c in CASES])
def test_refused(ranks, options, error, pattern):
    with pytest.raises(error, match=pattern):
        korvelan.analyze(ranks, **{"runs": 5, "seed": 1, **options})


def test_every_argument_is_explained():
    doc = korvelan.analyze.__doc__
    explained = set()
    for line in doc.splitlines():
        if line.startswith("    ") and not line.startswith("     "):
            explained.update(name.strip() for name in line.split(","))
    for name in inspect.signature(korvelan.analyze).parameters:
        assert name in explained, name


def test_ids_of_str_subclasses_are_ids():
    """numpy's str_ is a str: such ids are read as the plain strings."""
    plain = korvelan.analyze(GOOD, runs=5, seed=1)
    subclassed = korvelan.analyze({s: [np.str_(g) for g in ids] for s, ids in GOOD.items()},
                                  runs=5, seed=1)
    pd.testing.assert_frame_equal(plain, subclassed, check_exact=True)
