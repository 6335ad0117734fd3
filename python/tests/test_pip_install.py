"""`pip install ./python` the way users install it: into a fresh virtual
environment over Debian's interpreter, without build isolation (no package
index), compiling the library from the checkout. The installed module must
give the frame the CMake-built one gives, and the checkout must be left as
it was. The sdist must carry every source it compiles from."""

from __future__ import annotations

import os
import pickle
import shutil
import subprocess
import tarfile
from pathlib import Path

import pandas as pd
import pytest

import korvelan

ROOT = Path(__file__).resolve().parents[2]
PACKAGE = ROOT / "python"

ANALYSIS = """
import pickle, sys, korvelan
lists, out = pickle.load(open(sys.argv[1], "rb")), sys.argv[2]
frame = korvelan.analyze(lists, runs=200, seed=7, threads=2)
pickle.dump((korvelan.__file__, frame), open(out, "wb"))
"""


def checkout_state() -> dict[str, tuple[int, int]]:
    """Every file under python/ and cmake/ with its size and modification
    time: a build leaving or touching anything there shows here."""
    state = {}
    for top in ("python", "cmake"):
        for path in (ROOT / top).rglob("*"):
            if path.is_file():
                info = path.stat()
                state[str(path.relative_to(ROOT))] = (info.st_size, info.st_mtime_ns)
    return state


def clean_env() -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PIP_USER")}
    # Two compilers at most on shared CI machines; the cache, where there is
    # one, makes a second build of the same sources cheap.
    env.setdefault("KORVELAN_BUILD_JOBS", "2")
    ccache = shutil.which("ccache")
    if ccache and "CC" not in env:
        env["CC"] = f"{ccache} x86_64-linux-gnu-gcc"
        env["CXX"] = f"{ccache} x86_64-linux-gnu-g++"
    return env


@pytest.fixture(scope="module")
def venv(tmp_path_factory) -> Path:
    where = tmp_path_factory.mktemp("venv")
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(where)],
                   check=True, capture_output=True, text=True)
    return where


def test_pip_install_gives_the_cmake_modules_frame(venv, ranked_lists, tmp_path):
    before = checkout_state()
    python = venv / "bin" / "python"
    done = subprocess.run([str(python), "-m", "pip", "install", "--no-build-isolation",
                           "--no-index", "-q", str(PACKAGE)],
                          capture_output=True, text=True, env=clean_env(), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    assert checkout_state() == before, "pip install changed the checkout"

    lists = tmp_path / "lists.pickle"
    lists.write_bytes(pickle.dumps(ranked_lists))
    out = tmp_path / "frame.pickle"
    subprocess.run([str(python), "-c", ANALYSIS, str(lists), str(out)], check=True,
                   capture_output=True, text=True, env=clean_env(), cwd=tmp_path)
    where, installed = pickle.loads(out.read_bytes())
    assert Path(where).is_relative_to(venv), f"imported {where}, not the installed package"

    expected = korvelan.analyze(ranked_lists, runs=200, seed=7, threads=2)
    pd.testing.assert_frame_equal(installed, expected, check_exact=True)
    # The same run, but for when it started.
    for attrs in (installed.attrs, expected.attrs):
        attrs["run"].pop("started_utc")
    assert installed.attrs == expected.attrs


def test_sdist_carries_the_library(tmp_path):
    before = checkout_state()
    done = subprocess.run(["/usr/bin/python3", "-m", "build", "--sdist", "--no-isolation",
                           "--outdir", str(tmp_path), str(PACKAGE)],
                          capture_output=True, text=True, env=clean_env(), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    assert checkout_state() == before, "building the sdist changed the checkout"

    (sdist,) = tmp_path.glob("korvelan-*.tar.gz")
    top = sdist.name[:-len(".tar.gz")]
    with tarfile.open(sdist) as archive:
        names = set(archive.getnames())
    manifest = (ROOT / "cmake/package-sources.txt").read_text(encoding="utf-8").splitlines()
    listed = [line.split(" ", 1)[1] for line in manifest if line.startswith("source ")]
    omitted = [line.split(" ", 1)[1] for line in manifest if line.startswith("omit ")]
    wanted = ["setup.py", "pyproject.toml", "src/module.cc", "src/convert.h",
              "korvelan/__init__.py", "korvelan/py.typed", "_library/VERSION",
              "_library/cmake/package-sources.txt", "_library/include/korvelan/version.h.in",
              "_library/include/korvelan/meta.h", "_library/engine/analysis.h",
              *(f"_library/{s}" for s in listed)]
    missing = [w for w in wanted if f"{top}/{w}" not in names]
    assert not missing, f"the sdist lacks {missing}"
    stray = [o for o in omitted if f"{top}/_library/{o}" in names]
    assert not stray, f"the sdist carries the left-out {stray}"
