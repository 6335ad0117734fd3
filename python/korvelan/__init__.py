"""KORVELAN: rank-based meta-analysis of ranked gene lists.

``korvelan.analyze`` combines the ranked gene lists of several studies and
judges every gene's mean rank, weighted mean rank and heterogeneity Q by
Monte Carlo permutation runs, with Benjamini-Hochberg q-values: the numbers
of ``korvelan-meta``'s results.tsv, computed by the same library in this
process.
"""

from __future__ import annotations

import operator
import secrets
from collections.abc import Mapping, Sequence
from typing import Literal, Optional, Union

import numpy as np
import pandas as pd

from . import _inputs
from . import _korvelan

__all__ = ["analyze", "MAX_SEED", "MAX_STUDIES", "__version__"]

__version__: str = _korvelan.VERSION
MAX_SEED: int = _korvelan.MAX_SEED
MAX_STUDIES: int = _korvelan.MAX_STUDIES
# The options every front end shares, with their limits and words, from the
# library: a value korvelan-meta refuses is refused here in the same words.
_OPTIONS = {option["name"]: option for option in _korvelan.shared_options()}
MAX_THREADS: int = _OPTIONS["threads"]["high"]

Ranks = Union[Mapping[str, Sequence[str]], pd.DataFrame]
Weights = Union[Sequence[float], Mapping[str, float], pd.Series, np.ndarray]
Universe = Union[int, Sequence[str], pd.Index, np.ndarray]


def _shared(value, name: str):
    """A shared option's value, judged by the library."""
    option = _OPTIONS[name]
    if option["kind"] == "whole":
        if isinstance(value, (bool, np.bool_)):
            raise TypeError(f"{name} must be a whole number, not {value!r}")
        try:
            value = operator.index(value)
        except TypeError:
            raise TypeError(
                f"{name} must be a whole number, not {type(value).__name__} {value!r}"
            ) from None
    elif not isinstance(value, str):
        words = ", ".join(f'"{word}"' for word in option["values"])
        raise TypeError(f"{name} must be one of {words}, not {value!r}")
    problem = _korvelan.option_problem(name, str(value))
    if problem is not None:
        raise ValueError(f"{name} {problem}")
    return value


def analyze(
    ranks: Ranks,
    *,
    weights: Optional[Weights] = None,
    classes: None = None,
    runs: int = 1000,
    seed: Optional[int] = None,
    threads: Optional[int] = None,
    absent: Optional[Literal["below", "missing"]] = None,
    universe: Optional[Universe] = None,
    duplicates: Literal["refuse", "first", "best", "mean"] = "refuse",
    min_studies: int = 1,
    pvalues: Literal["plus-one", "exact"] = "plus-one",
    studies: Optional[pd.DataFrame] = None,
) -> pd.DataFrame:
    """Meta-analyse ranked gene lists; one row of results per gene.

    Parameters
    ----------
    ranks
        The studies, in one of three shapes (2 to 98 studies):

        - a mapping of study name to that study's gene ids, best first
          (``{"GSE1": ["TP53", "MYC", ...], ...}``); each list holds at
          least 2 distinct ids and no missing values;
        - a pandas DataFrame of genes x studies: the index holds the gene
          ids, each column a study's ranks (or any values ranked smallest
          first; equal values share their average rank), NaN where the
          study did not rank the gene;
        - a long pandas DataFrame with the columns ``study``, ``gene`` and
          ``rank``: one row per ranked gene (a NaN rank means not ranked);
          studies come in order of first appearance. A DataFrame with
          these three columns is always read as a long table.

        Study names and gene ids are strings without tab, line end or
        double quote; for a gene listed twice in one study see
        ``duplicates``.
    weights
        One positive weight per study for the weighted mean rank R_wmean
        (held in single precision): a sequence in study order, or a mapping
        (or Series) of study name to weight naming every study. None: equal
        weights.
    classes
        Not supported: a gene's information class is always the number of
        studies with a rank for it (the library's meta-analysis takes no
        classes). Anything but None raises NotImplementedError.
    runs
        Monte Carlo permutation runs, at least 1.
    seed
        The random generator's seed, 1 .. 2147483646. The same data,
        options and seed give the same numbers as ``korvelan-meta``. None:
        a seed is drawn; ``df.attrs["seed"]`` records it.
    threads
        Threads for the runs, 1 .. 256; the results do not depend on it.
        None: one per available CPU.
    absent
        What a study says about a gene it did not rank: ``"missing"``
        (nothing: the gene is left out of that study's permutations) or
        ``"below"`` (the study ranks it below its whole list, tied at the
        average of the places after it in the universe). None:
        ``"below"`` for a mapping of ranked lists, ``"missing"`` for
        tables.
    universe
        For ``absent="below"``: the number of genes each study chose from
        (at least the number of distinct genes, at most 8388608), or a
        list of those gene ids (every ranked id must be in it; the others get a row, ranked
        below every list). None: the genes the studies name.
    duplicates
        A gene listed more than once in one study: ``"refuse"`` (an
        error), ``"first"`` (the first occurrence counts), ``"best"`` (its
        best rank or value counts) or ``"mean"`` (the mean of its ranks or
        values counts).
    min_studies
        Genes ranked by fewer studies get NA statistics and take no part in
        the runs or the q-values; 1 .. the number of studies.
    pvalues
        ``"plus-one"``: (count + 1) / (total + 1), never 0; ``"exact"``:
        count / total in single precision, as the console program writes.
    studies
        Per-study settings, shaped like ``korvelan-meta``'s study sheet: a
        DataFrame with a column ``study`` (one row per study of ``ranks``)
        and any of ``weight``, ``absent`` and ``universe`` (a number of
        genes or a list of ids); a missing cell takes the argument of that
        name. So full tables (``"missing"``) and top-k lists (``"below"``
        over their universe) can be analysed together; a gene's
        information class is the number of studies that measured it, and a
        top-k study measures its whole universe.

    Returns
    -------
    pandas.DataFrame
        Indexed by gene (index name ``gene``), in the rows and columns of
        ``korvelan-meta``'s results.tsv: ``n_studies``, ``rank_<study>``
        for each study, ``R_mean``, ``R_wmean``, ``Q``, the six P-values
        ``p_Rmean_right`` ... ``p_Q_left`` and their q-values ``q_...``;
        NA is NaN. Rows are sorted by ``p_Rmean_left``, then ``R_mean``,
        then gene id. ``df.attrs`` holds ``runs``, ``seed``,
        ``universe``, ``version``, ``pvalues``, ``studies``,
        ``genes_analysed`` and ``classes``.

    Raises
    ------
    TypeError
        An argument of the wrong type (a gene id that is not a string, a
        missing value in a ranked list, non-numeric ranks or weights).
    ValueError
        A value the analysis refuses: duplicates, an empty or one-gene
        list, fewer than 2 or more than 98 studies, wrong weights, runs <
        1, a seed or thread count out of range, and the like; the message
        names the study and gene at fault.
    KeyboardInterrupt
        Ctrl-C stops the analysis promptly; nothing is returned.

    The GIL is released while the analysis runs, so other Python threads
    go on, and analyses in several threads at once give the results each
    gives alone.
    """
    if classes is not None:
        raise NotImplementedError(
            "classes: the meta-analysis takes a gene's information class from the "
            "number of studies that rank it; other classes cannot be given"
        )
    if isinstance(ranks, pd.DataFrame):
        if _inputs.is_long(ranks):
            kind = "long"
            study, gene, value = _inputs.from_long(ranks)
            names = list(dict.fromkeys(study))
        else:
            kind = "table"
            genes, names, values = _inputs.from_wide(ranks)
    elif isinstance(ranks, Mapping):
        kind = "lists"
        names, lists = _inputs.from_mapping(ranks)
    else:
        raise TypeError(
            "ranks must be a mapping of study name to ranked gene ids, a genes x studies "
            "DataFrame or a long DataFrame (study, gene, rank), "
            f"not {type(ranks).__name__}"
        )

    if absent is None:
        absent = "below" if kind == "lists" else "missing"
    else:
        absent = _shared(absent, "absent")
    settings: list = []
    sheet_weights: list = []
    if studies is not None:
        settings, sheet_weights = _inputs.settings_for(studies, names, _korvelan.MAX_UNIVERSE)
        if sheet_weights and weights is not None:
            raise ValueError("give weights or a weight column in studies, not both")
    if universe is not None and absent == "missing" and studies is None:
        raise ValueError(f'universe applies to absent="below", not to absent="{absent}"')
    duplicates = _shared(duplicates, "duplicates")
    pvalues = _shared(pvalues, "pvalues")
    if seed is None:
        seed = secrets.randbelow(MAX_SEED) + 1
    universe_size, universe_ids = _inputs.universe_for(universe, _korvelan.MAX_UNIVERSE)
    options = _korvelan.Options(
        absent=absent,
        universe_size=universe_size,
        universe_ids=universe_ids,
        duplicates=duplicates,
        min_studies=_shared(min_studies, "min_studies"),
        pvalues=pvalues,
        weights=sheet_weights or _inputs.weights_for(weights, names),
        runs=_shared(runs, "runs"),
        seed=_shared(seed, "seed"),
        threads=_korvelan.default_threads() if threads is None else _shared(threads, "threads"),
        study_settings=settings,
    )

    try:
        if kind == "lists":
            out = _korvelan.run_lists(names, lists, options)
        elif kind == "table":
            out = _korvelan.run_table(genes, names, values, options)
        else:
            out = _korvelan.run_long(study, gene, value, options)
    except ValueError as error:
        # The library names the option in words; here it is a keyword.
        message = str(error).replace(
            "(the duplicates option chooses first, best or mean)",
            '(pass duplicates="first", "best" or "mean")',
        )
        if message == str(error):
            raise
        raise ValueError(message) from None

    frame = pd.DataFrame(
        dict(zip(out["columns"], out["data"])),
        index=pd.Index(out["index"], name="gene", dtype=object),
        columns=out["columns"],
    )
    frame.attrs.update(out["attrs"])
    return frame
