"""docs/python-example.md runs as written: its Python blocks in order, in
one interpreter, from a directory laid out like the repository's root, and
what its prose says of the output holds."""

from __future__ import annotations

import os
import re
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PAGE = ROOT / "docs" / "python-example.md"


def test_example_page_runs(tmp_path):
    blocks = re.findall(r"^```python\n(.*?)^```$", PAGE.read_text(encoding="utf-8"), re.M | re.S)
    assert len(blocks) == 5, f"{PAGE} has {len(blocks)} Python blocks"
    # The page reads tests/tools/data relative to where it runs, and writes
    # its results there: a scratch directory with the data linked in.
    (tmp_path / "tests").mkdir()
    (tmp_path / "tests" / "tools").mkdir()
    (tmp_path / "tests" / "tools" / "data").symlink_to(ROOT / "tests" / "tools" / "data")
    done = subprocess.run(["/usr/bin/python3", "-c", "\n".join(blocks)], cwd=tmp_path,
                          capture_output=True, text=True, env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    out = done.stdout.splitlines()
    expected = [
        ("the three tables read", "GSE25401 6944 genes"),
        ("runs, seed and genes analysed", "1000 2024 7387"),
        ("the tables' shape and repeated ids", "tables mean"),
        ("the saved table read back whole", "(7387, 26)"),
        ("the report written", "True"),
    ]
    for what, line in expected:
        assert line in out, f"{what}: no line {line!r} in\n{done.stdout}"
    header = next(i for i, line in enumerate(out) if line.split()[:1] == ["n_studies"])
    first = out[header + 2].split()
    # Up in all three studies, and so first among the smallest mean ranks.
    assert first[:2] == ["PALLD", "3"] and first[-2:] == ["up", "0"], f"top gene: {out[header + 2]!r}"
    assert (tmp_path / "three-studies-results.tsv").is_file()
    page = (tmp_path / "three-studies-report.html").read_text(encoding="utf-8")
    assert 'id="volcano"' in page and "2024" in page
