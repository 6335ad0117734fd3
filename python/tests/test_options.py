"""The options analyze() shares with korvelan-meta: the same names (with
underscores for hyphens), taken from the library, and a value either
refuses is refused by both in the same words."""

from __future__ import annotations

import inspect
import os
import re
import subprocess

import pytest

import korvelan
from korvelan import _korvelan

GOOD = {"A": ["a", "b", "c"], "B": ["c", "b", "a"]}
META = os.environ.get("KORVELAN_META", "korvelan-meta")
OPTIONS = {option["name"]: option for option in _korvelan.shared_options()}

# analyze()'s arguments with no korvelan-meta option of their name: the
# studies themselves, a study sheet (korvelan-meta's --studies given a file)
# and classes, which no front end takes.
HOST_ONLY = {"ranks", "sheet", "classes"}


def meta_help() -> str:
    return subprocess.run([META, "--help"], check=True, capture_output=True, text=True).stdout


def test_every_argument_korvelan_meta_has_is_shared():
    shown = set(re.findall(r"--([a-z][a-z-]*)", meta_help()))
    arguments = set(inspect.signature(korvelan.analyze).parameters) - HOST_ONLY
    for name in arguments:
        option = name.replace("_", "-")
        assert option in shown, f"{name}: korvelan-meta has no --{option}"
        assert name in OPTIONS, f"{name}: not among the library's shared options"
        assert OPTIONS[name]["cli_name"] == option


def test_defaults_are_the_librarys():
    parameters = inspect.signature(korvelan.analyze).parameters
    for name, parameter in parameters.items():
        if name in OPTIONS and OPTIONS[name]["default"] is not None:
            assert str(parameter.default) == OPTIONS[name]["default"], name
    assert korvelan.MAX_THREADS == OPTIONS["threads"]["high"]
    assert 1 <= _korvelan.default_threads() <= korvelan.MAX_THREADS


# (argument, value): each refused by korvelan-meta before it reads a file.
REFUSED = [
    ("runs", 0),
    ("runs", 2**31),
    ("seed", 0),
    ("seed", 2147483647),
    ("threads", 0),
    ("threads", 257),
    ("min_studies", 0),
    ("min_studies", 99),
    ("absent", "above"),
    ("duplicates", "last"),
    ("pvalues", "plus_one"),
]


@pytest.mark.parametrize("name, value", REFUSED, ids=[f"{n} {v}" for n, v in REFUSED])
def test_refused_alike(tmp_path, name, value):
    option = "--" + name.replace("_", "-")
    cli = subprocess.run([META, "a.txt", "b.txt", "-o", str(tmp_path / "out"), option, str(value)],
                         capture_output=True, text=True, cwd=tmp_path)
    assert cli.returncode == 2, cli.stderr
    said = re.fullmatch(rf"korvelan-meta: {option} (.*) \(see korvelan-meta --help\)\n", cli.stderr)
    assert said, cli.stderr
    problem = said.group(1)
    assert problem == _korvelan.option_problem(name, str(value))
    with pytest.raises(ValueError) as refused:
        korvelan.analyze(GOOD, **{"seed": 1, "runs": 5, name: value})
    assert str(refused.value) == f"{name} {problem}"
    assert not (tmp_path / "out").exists()
