"""KORVELAN: rank-based meta-analysis of ranked gene lists.

``korvelan.analyze`` combines the ranked gene lists of several studies and
judges every gene's mean rank, weighted mean rank and heterogeneity Q by
Monte Carlo permutation runs, with Benjamini-Hochberg q-values: the numbers
of ``korvelan-meta``'s results.tsv, computed by the same library in this
process.
"""

from __future__ import annotations

import json
import os
import secrets
import tempfile
from collections.abc import Mapping, Sequence
from typing import Literal, Optional, Union

import numpy as np
import pandas as pd

from . import _inputs
from . import _korvelan

__all__ = ["analyze", "write_report", "MAX_SEED", "MAX_STUDIES", "__version__"]

__version__: str = _korvelan.VERSION
MAX_SEED: int = _korvelan.MAX_SEED
MAX_STUDIES: int = _korvelan.MAX_STUDIES
# The options every front end shares, with their limits and words, from the
# library: a value korvelan-meta refuses is refused here in the same words.
_OPTIONS = {option["name"]: option for option in _korvelan.shared_options()}
MAX_THREADS: int = _OPTIONS["threads"]["high"]

PathLike = Union[str, "os.PathLike[str]"]
Ranks = Union[Mapping[str, Sequence[str]], pd.DataFrame, PathLike, Sequence[PathLike],
              Sequence[pd.DataFrame], Mapping[str, pd.DataFrame]]
RUN_KEY = "_korvelan_run"
Weights = Union[Sequence[float], Mapping[str, float], pd.Series, np.ndarray]
Universe = Union[int, Sequence[str], pd.Index, np.ndarray]


def _shared(value, name: str):
    """A shared option's value, judged by the library."""
    option = _OPTIONS[name]
    if option["kind"] == "whole":
        value = _inputs.as_whole(value, name)
    elif not isinstance(value, str):
        words = ", ".join(f'"{word}"' for word in option["values"])
        raise TypeError(f"{name} must be one of {words}, not {value!r}")
    problem = _korvelan.option_problem(name, str(value))
    if problem is not None:
        raise ValueError(f"{name} {problem}")
    return value


def analyze(
    ranks: Optional[Ranks] = None,
    *,
    sheet: Optional[PathLike] = None,
    input_format: Literal["auto", "tables", "lists", "columns", "rows", "long"] = "auto",
    gene: Optional[str] = None,
    pvalue: Optional[str] = None,
    statistic: Optional[str] = None,
    sign_by: Optional[str] = None,
    first: Literal["largest", "smallest"] = "largest",
    delimiter: Literal["auto", "tab", "comma", "semicolon"] = "auto",
    study_column: str = "study",
    split_ids: Optional[str] = None,
    sort_by: str = "p_Rmean_left",
    weights: Optional[Weights] = None,
    classes: None = None,
    runs: int = 1000,
    seed: Optional[int] = None,
    threads: Optional[int] = None,
    absent: Optional[Literal["below", "missing"]] = None,
    universe: Optional[Universe] = None,
    duplicates: Optional[Literal["refuse", "first", "best", "mean"]] = None,
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

        Or inputs the library reads as ``korvelan-meta`` does (same
        numbers, run record and page for the same options and seed):

        - a path, or a list of paths: study tables, ranked lists, or one
          table of all studies (see ``input_format``);
        - a dict of study name to DataFrame, or a list of DataFrames
          (studies ``study1``, ``study2``, ...): differential-expression
          tables as limma's topTable, DESeq2's results, edgeR's topTags
          table or scanpy's ``rank_genes_groups_df`` give them. The
          columns are detected from their names and the rows ranked as the
          file with that header would be; a non-default index is the first
          column (named as the index, or ``row.names``).
    sheet
        A study sheet (path), as ``korvelan-meta --studies``, instead of
        ``ranks``; weights and per-study settings go in the sheet.
    input_format
        For paths: ``"auto"``, ``"tables"``, ``"lists"``, ``"columns"``,
        ``"rows"`` or ``"long"``, as ``korvelan-meta --input-format``.
    gene, pvalue, statistic, sign_by
        For tables: the column of the gene ids, and the column that ranks
        the genes: a p-value (smallest first), a statistic (see
        ``first``), or a p-value signed by ``sign_by``'s sign. None: found
        from the header.
    first
        With a statistic or ``sign_by``: ``"largest"`` or ``"smallest"``
        gets rank 1.
    delimiter
        For files: ``"auto"``, ``"tab"``, ``"comma"`` or ``"semicolon"``.
    study_column
        For a long file: the column naming the study.
    split_ids
        For tables: split ids that join several genes at this separator
        (e.g. ``"///"``); each gene takes the row's rank.
    sort_by
        The P-value column that orders the rows (default
        ``"p_Rmean_left"``).
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
        For ``absent="below"``: the path of a file of ids (with inputs
        read from files or frames), or the number of genes each study chose from
        (at least the number of distinct genes, at most 8388608), or a
        list of those gene ids (every ranked id must be in it; the others get a row, ranked
        below every list). None: the genes the studies name.
    duplicates
        A gene listed more than once in one study (None: ``"mean"`` for
        tables read from files or frames, else ``"refuse"``): ``"refuse"`` (an
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
        NA is NaN. Rows are sorted by ``sort_by`` (``p_Rmean_left``),
        then ``R_mean``, then gene id. Studies ranked by a signed value add ``direction``,
        ``n_up``, ``n_down`` and, with fold changes, ``logFC_<study>`` and
        ``logFC_mean``, as results.tsv. ``df.attrs`` holds ``runs``,
        ``seed``, ``universe``, ``version``, ``pvalues``, ``studies``,
        ``genes_analysed``, ``classes`` and ``run`` (run.json's content);
        :func:`write_report` writes the run's page.

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
    kind, data = _inputs.shape_of(ranks, sheet)
    if absent is not None:
        absent = _shared(absent, "absent")
    if duplicates is not None:
        duplicates = _shared(duplicates, "duplicates")
    settings = _inputs.settings(
        input_format=input_format, gene=gene, pvalue=pvalue, statistic=statistic, sign_by=sign_by,
        first=first, delimiter=delimiter, study_column=study_column, split_ids=split_ids,
        sort_by=sort_by, pvalues=_shared(pvalues, "pvalues"),
        min_studies=_shared(min_studies, "min_studies"),
        runs=_shared(runs, "runs"))
    if seed is None:
        seed = secrets.randbelow(MAX_SEED) + 1
    seed = _shared(seed, "seed")
    threads = _korvelan.default_threads() if threads is None else _shared(threads, "threads")
    if kind in ("files", "frames"):
        out = _run_read(kind, data, sheet, settings, absent, universe, duplicates, weights,
                        studies, seed, threads)
    else:
        out = _run_given(kind, data, settings, absent, universe, duplicates or "refuse", weights,
                         studies, seed, threads)
    frame = pd.DataFrame(
        dict(zip(out["columns"], out["data"])),
        index=pd.Index(out["index"], name="gene", dtype=object),
        columns=out["columns"],
    )
    frame.attrs.update(out["attrs"])
    frame.attrs["run"] = json.loads(out["run"].json())
    frame.attrs[RUN_KEY] = _Run(out["run"])
    return frame


class _Run:
    """The run behind a result frame, for write_report. Immutable: copies
    of the frame share it; pickled, it keeps the page's text (the library's
    record of the run lives in this process only)."""

    __slots__ = ("_record", "_page")

    def __init__(self, record=None, page: Optional[str] = None) -> None:
        self._record = record
        self._page = page

    def page(self) -> str:
        return self._page if self._page is not None else self._record.page()

    def __reduce__(self):
        return (_Run, (None, self.page()))

    # Two runs are alike when their pages are: frames compare by value.
    def __eq__(self, other: object) -> bool:
        return isinstance(other, _Run) and (self is other or self.page() == other.page())

    __hash__ = None  # type: ignore[assignment]

    def __copy__(self) -> "_Run":
        return self

    def __deepcopy__(self, memo) -> "_Run":
        return self


def _options(**kwargs) -> "_korvelan.Options":
    defaults = dict(absent="missing", universe_size=0, universe_ids=[], duplicates="refuse",
                    min_studies=1, pvalues="plus-one", weights=[], runs=1, seed=1, threads=1)
    defaults.update(kwargs)
    return _korvelan.Options(**defaults)


def _run_read(kind, data, sheet, settings, absent, universe, duplicates, weights, studies, seed,
              threads) -> dict:
    """Files, a sheet or DE tables, read and ranked by the library as
    korvelan-meta reads them."""
    settings["absent"] = absent or ""
    settings["duplicates"] = duplicates or ""
    universe_ids: list = []
    if isinstance(universe, (str, os.PathLike)):
        settings["universe"] = os.fspath(universe)  # a file of ids, as korvelan-meta takes it
    elif universe is not None:
        size, universe_ids = _inputs.universe_for(universe, _korvelan.MAX_UNIVERSE)
        settings["universe"] = str(size) if size else ""
    if kind == "files":
        read = _korvelan.read_files(data, "" if sheet is None else os.fspath(sheet), settings)
    else:
        read = _korvelan.read_tables(data, settings)
    names = read.studies
    sheet_settings: list = []
    sheet_weights: list = []
    if studies is not None:
        sheet_settings, sheet_weights = _inputs.settings_for(studies, names, _korvelan.MAX_UNIVERSE)
        if sheet_weights and weights is not None:
            raise ValueError("give weights or a weight column in studies, not both")
    if sheet is not None and (weights is not None or studies is not None):
        raise ValueError("with a study sheet, weights and per-study settings go in the sheet")
    overrides = _options(universe_ids=universe_ids, study_settings=sheet_settings,
                         weights=sheet_weights or _inputs.weights_for(weights, names))
    try:
        return _korvelan.run_input(read, settings, seed, threads, overrides)
    except ValueError as error:
        # The library words this for korvelan-meta's command line.
        message = str(error).replace("--universe applies to --absent below",
                                     'universe applies to absent="below"')
        if message == str(error):
            raise
        raise ValueError(message) from None


def _run_given(kind, data, settings, absent, universe, duplicates, weights, studies, seed,
               threads) -> dict:
    """Studies given as lists or tables of ranks."""
    if kind == "long":
        study, gene, value = _inputs.from_long(data)
        names = list(dict.fromkeys(study))
    elif kind == "table":
        genes, names, values = _inputs.from_wide(data)
    else:
        names, lists = _inputs.from_mapping(data)
    if absent is None:
        absent = "below" if kind == "lists" else "missing"
    settings_list: list = []
    sheet_weights: list = []
    if studies is not None:
        settings_list, sheet_weights = _inputs.settings_for(studies, names, _korvelan.MAX_UNIVERSE)
        if sheet_weights and weights is not None:
            raise ValueError("give weights or a weight column in studies, not both")
    if universe is not None and absent == "missing" and studies is None:
        raise ValueError(f'universe applies to absent="below", not to absent="{absent}"')
    universe_size, universe_ids = _inputs.universe_for(universe, _korvelan.MAX_UNIVERSE)
    settings["absent"] = absent
    settings["duplicates"] = duplicates
    options = _korvelan.Options(
        absent=absent,
        universe_size=universe_size,
        universe_ids=universe_ids,
        duplicates=duplicates,
        min_studies=settings["min_studies"],
        pvalues=settings["pvalues"],
        weights=sheet_weights or _inputs.weights_for(weights, names),
        runs=settings["runs"],
        seed=seed,
        threads=threads,
        study_settings=settings_list,
    )
    try:
        if kind == "lists":
            return _korvelan.run_lists(names, lists, options, settings)
        if kind == "table":
            return _korvelan.run_table(genes, names, values, options, settings)
        return _korvelan.run_long(study, gene, value, options, settings)
    except ValueError as error:
        # The library names the option in words; here it is a keyword.
        message = str(error).replace(
            "(the duplicates option chooses first, best or mean)",
            '(pass duplicates="first", "best" or "mean")',
        )
        if message == str(error):
            raise
        raise ValueError(message) from None


def write_report(result: pd.DataFrame, path: PathLike) -> None:
    """Write the interactive report page of an analysis, report.html.

    Parameters
    ----------
    result
        A data frame returned by :func:`analyze` (or a copy of it, which
        keeps its ``attrs``). The page shows the whole run, whatever rows
        or columns were dropped from the frame since.
    path
        The file to write. It is replaced as a whole: the page goes to a
        temporary file beside it, renamed over ``path`` once written, so
        a failed write leaves no half page.

    The page is ``korvelan-meta``'s report.html for the same studies,
    options and seed: the same bytes, but for the program named in its
    version line and methods paragraph (``korvelan (Python)``) and, for
    studies given in memory, its ``inputs`` line (no file names).

    Raises
    ------
    ValueError
        ``result`` does not come from :func:`analyze`.
    OSError
        The file cannot be written.
    """
    record = result.attrs.get(RUN_KEY) if isinstance(result, pd.DataFrame) else None
    if record is None:
        raise ValueError("write_report needs a data frame returned by korvelan.analyze "
                         "(its attrs hold the run)")
    page = record.page().encode("utf-8")
    target = os.fspath(path)
    folder = os.path.dirname(os.path.abspath(target))
    handle, temporary = tempfile.mkstemp(prefix=".report-", suffix=".tmp", dir=folder)
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(page)
        os.replace(temporary, target)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise
