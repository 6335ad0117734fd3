"""`cmake --install <build> --component python` gives a package that
Debian's interpreter imports from the install directory alone, a plain
install leaves it out, and the example of docs/python.md runs."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import korvelan

ROOT = Path(__file__).resolve().parents[2]


def install(tmp_path: Path, *component: str) -> Path:
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", os.environ["KORVELAN_BUILD_DIR"], "--prefix",
                    str(prefix), *component], check=True, capture_output=True, text=True)
    return prefix


def test_installed_package_imports_and_runs(tmp_path):
    prefix = install(tmp_path, "--component", "python")
    site = next(prefix.glob("lib/python3.*/dist-packages"))
    script = ("import korvelan; print(korvelan.__file__); "
              "print(korvelan.analyze({'A': ['a', 'b', 'c'], 'B': ['c', 'a', 'b']}, runs=5, "
              "seed=1).attrs['version'])")
    done = subprocess.run(["/usr/bin/python3", "-c", script], cwd=tmp_path, check=True,
                          capture_output=True, text=True,
                          env={"PATH": os.environ.get("PATH", ""), "PYTHONPATH": str(site)})
    where, version = done.stdout.splitlines()
    assert Path(where).is_relative_to(site) and version == korvelan.__version__


def test_plain_install_leaves_the_package_out(tmp_path):
    prefix = install(tmp_path)
    assert not list(prefix.glob("lib/python3*")), "a plain install took the Python package"


def test_documented_example_runs():
    page = (ROOT / "docs" / "python.md").read_text(encoding="utf-8")
    example = page.split("```python\n", 1)[1].split("```", 1)[0]
    done = subprocess.run(["/usr/bin/python3", "-c", example], cwd=ROOT, check=True,
                          capture_output=True, text=True, env=dict(os.environ))
    assert "FAM13A" in done.stdout and "'seed': 2024" in done.stdout, done.stdout
