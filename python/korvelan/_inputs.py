"""Shapes in: ranked lists, wide and long tables, and the options of
korvelan.analyze, turned into the plain lists and arrays the extension
takes. Types are checked here (TypeError); values are judged by the
library's meta-analysis layer, whose messages come back as ValueError."""

from __future__ import annotations

import math
import os
import numbers
import operator
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np
import pandas as pd

LONG_COLUMNS = ("study", "gene", "rank")


def as_whole(value: Any, name: str) -> int:
    """An integer argument as an int (bool is not a number here)."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be a whole number, not {value!r}")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(
            f"{name} must be a whole number, not {type(value).__name__} {value!r}"
        ) from None


def whole(value: Any, name: str, low: int, high: int) -> int:
    """An integer argument in low .. high."""
    number = as_whole(value, name)
    if not low <= number <= high:
        raise ValueError(f"{name} must be a whole number from {low} to {high}, not {number}")
    return number


def _name(value: Any, what: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a string, not {type(value).__name__} {value!r}")
    return value


def _ids(values: Any, where: str, noun: str = "gene id") -> list[str]:
    if isinstance(values, (pd.Series, pd.Index, np.ndarray)):
        values = values.tolist()
    elif isinstance(values, (str, bytes)) or not isinstance(values, Sequence):
        raise TypeError(
            f"{where} must be a sequence of {noun}s (list, tuple, array, Series), "
            f"not {type(values).__name__}"
        )
    ids = list(values)
    # All plain str, the usual case: one pass in C rather than a test per
    # id in Python (a twentieth of a call on 40000 ids). Otherwise the
    # loop below finds the first one that is not (str subclasses pass).
    if not ids or set(map(type, ids)) == {str}:
        return ids
    for k, item in enumerate(ids):
        if not isinstance(item, str):
            if pd.api.types.is_scalar(item) and pd.isna(item):
                raise TypeError(
                    f"{where}: entry {k + 1} is missing ({item!r}); {noun}s cannot be "
                    "missing (leave unranked genes out)"
                )
            raise TypeError(
                f"{where}: {noun} {k + 1} is {type(item).__name__} {item!r}, not a string"
            )
    return ids


def from_mapping(ranks: Mapping) -> tuple[list[str], list[list[str]]]:
    """Study names and their lists, best first."""
    names = [_name(name, "a study name") for name in ranks.keys()]
    lists = [_ids(ranks[name], f"study {name!r}") for name in names]
    return names, lists


def _numbers(column: pd.Series, where: str, ids: list[str]) -> np.ndarray:
    dtype = column.dtype
    if pd.api.types.is_bool_dtype(dtype) or not pd.api.types.is_numeric_dtype(dtype):
        raise TypeError(f"{where} must hold numbers (ranks, NaN for not ranked), not {dtype}")
    values = column.to_numpy(dtype="float64", na_value=np.nan)
    # An infinite rank has no place on the common scale; R refuses it alike.
    bad = np.flatnonzero(np.isinf(values))
    if bad.size:
        k = int(bad[0])
        raise ValueError(
            f"{where} has a non-finite rank ({values[k]}) for gene {ids[k]!r}; "
            "use NaN for not ranked"
        )
    return values


def is_long(table: pd.DataFrame) -> bool:
    return all(c in table.columns for c in LONG_COLUMNS)


def from_wide(table: pd.DataFrame) -> tuple[list[str], list[str], np.ndarray]:
    """Gene ids, study names and the genes x studies ranks, column-major."""
    genes = _ids(table.index, "the table's index (gene ids)")
    studies = [_name(name, "a study name (column)") for name in table.columns]
    values = np.empty((len(genes), len(studies)), dtype="float64", order="F")
    for j in range(len(studies)):
        values[:, j] = _numbers(table.iloc[:, j], f"study {studies[j]!r}", genes)
    return genes, studies, values


def from_long(table: pd.DataFrame) -> tuple[list[str], list[str], np.ndarray]:
    """The study, gene and rank columns of a long table."""
    study = _ids(table["study"], "column 'study'", "study name")
    gene = _ids(table["gene"], "column 'gene'")
    return study, gene, _numbers(table["rank"], "column 'rank'", gene)


def weights_for(weights: Any, studies: list[str]) -> list[float]:
    """One weight per study, in study order: from a mapping (or Series)
    keyed by study name, or a sequence in study order."""
    if weights is None:
        return []
    if isinstance(weights, (Mapping, pd.Series)):
        keys = list(weights.keys())
        unknown = [k for k in keys if k not in studies]
        missing = [s for s in studies if s not in keys]
        if unknown or missing:
            raise ValueError(
                "weights must name every study once: "
                + "; ".join(
                    part
                    for part in (
                        f"no study named {', '.join(map(repr, unknown))}" if unknown else "",
                        f"no weight for {', '.join(map(repr, missing))}" if missing else "",
                    )
                    if part
                )
            )
        values = [weights[s] for s in studies]
    elif isinstance(weights, (np.ndarray, pd.Index)) or (
        isinstance(weights, Sequence) and not isinstance(weights, (str, bytes))
    ):
        values = list(weights.tolist() if hasattr(weights, "tolist") else weights)
    else:
        raise TypeError(
            "weights must be a sequence (one per study) or a mapping of study name to "
            f"weight, not {type(weights).__name__}"
        )
    for k, w in enumerate(values):
        if isinstance(w, (bool, np.bool_)) or not isinstance(w, numbers.Real):
            raise TypeError(f"weight {k + 1} is {type(w).__name__} {w!r}, not a number")
        # Weights are held in single precision: one whose float is 0 or
        # infinite would make a study count for nothing or for everything.
        with np.errstate(over="ignore", under="ignore"):
            single = np.float32(w)
        if not float(w) > 0 or single == 0 or np.isinf(single):
            raise ValueError(
                f"weight {k + 1} ({w!r}) is not a positive number within the float range"
            )
    return [float(w) for w in values]


def universe_for(universe: Any, largest: int) -> tuple[int, list[str]]:
    """(size, ids): a size (1 .. largest), a list of gene ids, or neither
    (None)."""
    if universe is None:
        return 0, []
    if isinstance(universe, numbers.Integral) and not isinstance(universe, (bool, np.bool_)):
        return whole(universe, "universe (a size)", 1, largest), []
    if isinstance(universe, (bool, np.bool_, numbers.Real)):
        raise TypeError(f"universe must be a whole number or a list of gene ids, not {universe!r}")
    return 0, _ids(universe, "universe")


def _is_na(value: Any) -> bool:
    return value is None or (isinstance(value, numbers.Real) and math.isnan(value))


def settings_for(sheet: Any, studies: list[str], largest: int) -> tuple[list[tuple[str, int, list[str]]], list[float]]:
    """Per study, in `studies` order: (absent or "", universe size, universe ids), and the
    weights of a "weight" column (empty without one), from a DataFrame shaped like
    korvelan-meta's study sheet. A universe size is 1 .. largest."""
    if not isinstance(sheet, pd.DataFrame):
        raise TypeError(f"studies must be a pandas DataFrame, not {type(sheet).__name__}")
    columns = [str(c) for c in sheet.columns]
    unknown = [c for c in columns if c not in ("study", "weight", "absent", "universe")]
    if unknown:
        raise ValueError(f"studies: the column {unknown[0]!r} is not one of study, weight, absent, universe")
    if "study" not in columns:
        raise ValueError('studies needs a column "study" naming each study')
    rows: dict[str, Any] = {}
    for _, row in sheet.iterrows():
        name = _name(row["study"], "studies: a study name")
        if name in rows:
            raise ValueError(f'studies names "{name}" twice')
        rows[name] = row
    for name in studies:
        if name not in rows:
            raise ValueError(f'studies has no row for study "{name}"')
    for name in rows:
        if name not in studies:
            raise ValueError(f'studies names "{name}", which is not a study of ranks')
    settings = []
    for name in studies:
        row = rows[name]
        absent = row.get("absent")
        absent = "" if _is_na(absent) else absent
        if absent not in ("", "below", "missing"):
            raise ValueError(f'studies: absent of study "{name}" must be "below" or "missing", not {absent!r}')
        universe = row.get("universe")
        if _is_na(universe):
            size, ids = 0, []
        else:
            # A column with an empty cell holds its sizes as floats.
            if isinstance(universe, float) and universe.is_integer():
                universe = int(universe)
            size, ids = universe_for(universe, largest)
        settings.append((absent, size, ids))
    weights = []
    if "weight" in columns:
        weights = weights_for([1.0 if _is_na(rows[n]["weight"]) else rows[n]["weight"] for n in studies], studies)
    return settings, weights


def _is_path(value: Any) -> bool:
    return isinstance(value, (str, os.PathLike))


def shape_of(ranks: Any, sheet: Any) -> tuple[str, Any]:
    """(kind, data): "files" (a list of paths; empty with a sheet),
    "frames" (DE tables for the library to read), "lists", "table" or
    "long" (studies given as ranks)."""
    if sheet is not None:
        if ranks is not None:
            raise ValueError("give ranks or a study sheet, not both")
        if not _is_path(sheet):
            raise TypeError(f"sheet must be a path, not {type(sheet).__name__}")
        return "files", []
    if ranks is None:
        raise TypeError("analyze needs ranks (or a study sheet)")
    if _is_path(ranks):
        return "files", [os.fspath(ranks)]
    if isinstance(ranks, pd.DataFrame):
        return ("long" if is_long(ranks) else "table"), ranks
    if isinstance(ranks, Mapping):
        values = list(ranks.values())
        if values and all(isinstance(v, pd.DataFrame) for v in values):
            return "frames", [frame_table(_name(k, "a study name"), v) for k, v in ranks.items()]
        return "lists", ranks
    if isinstance(ranks, Sequence) and not isinstance(ranks, (str, bytes)) and len(ranks) > 0:
        if all(_is_path(r) for r in ranks):
            return "files", [os.fspath(r) for r in ranks]
        if all(isinstance(r, pd.DataFrame) for r in ranks):
            return "frames", [frame_table(f"study{k + 1}", r) for k, r in enumerate(ranks)]
    raise TypeError(
        "ranks must be a mapping of study name to ranked gene ids, a genes x studies "
        "DataFrame, a long DataFrame (study, gene, rank), file paths, or a list or dict of "
        f"differential-expression DataFrames, not {type(ranks).__name__}"
    )


def _text_cells(column: pd.Series) -> list[str]:
    """A column's cells as a TSV of the frame holds them: str() of each
    value, "" where it is missing."""
    cells = []
    for value in column.astype(object).tolist():
        if value is None or (pd.api.types.is_scalar(value) and pd.isna(value)):
            cells.append("")
        else:
            cells.append(value if isinstance(value, str) else str(value))
    return cells


def frame_table(study: str, frame: pd.DataFrame) -> tuple[str, list[tuple[str, bool, Any]]]:
    """(study, [(column name, numeric, values)]) for the library's reader.
    Row names (any index but the default 0, 1, ...) come first, named as
    the index is, or "row.names" as R writes them."""
    columns: list[tuple[str, bool, Any]] = []
    index = frame.index
    default = isinstance(index, pd.RangeIndex) and index.start == 0 and index.step == 1 and index.name is None
    if not default:
        name = "row.names" if index.name is None else str(index.name)
        columns.append((name, False, _text_cells(index.to_series())))
    for name in frame.columns:
        column = frame[name]
        if isinstance(column, pd.DataFrame):
            raise ValueError(f"study {study!r}: the column name {name!r} is used twice")
        dtype = column.dtype
        numeric = pd.api.types.is_numeric_dtype(dtype) and not pd.api.types.is_bool_dtype(dtype)
        if numeric:
            columns.append((str(name), True, column.to_numpy(dtype="float64", na_value=np.nan)))
        else:
            columns.append((str(name), False, _text_cells(column)))
    return study, columns


def settings(**values: Any) -> dict[str, Any]:
    """korvelan-meta's settings from analyze's keywords: None is "not
    given" (an empty text)."""
    out: dict[str, Any] = {}
    for key, value in values.items():
        if value is None:
            out[key] = ""
        elif isinstance(value, str) or key in ("min_studies", "runs"):
            out[key] = value
        else:
            raise TypeError(f"{key} must be a string, not {type(value).__name__} {value!r}")
    return out
