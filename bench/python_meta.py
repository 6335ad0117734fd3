"""korvelan.analyze against korvelan-meta on the five real studies.

    /usr/bin/python3 bench/python_meta.py [BUILD_DIR]   (default build/release)

Both get the same studies (tests/tools/data, ranked by p-value, genes a
study did not measure missing), 1000 runs, seed 2024, for each thread count
in THREADS (default "1 2"); best of REPEAT (default 9) runs each, the
programs taking turns so that a change in the machine's load hits both:

- korvelan-meta: the whole process (reading the tables, the analysis,
  writing results.tsv, report.svg and run.json) and its analysis phase
  (RunMeta alone, from run.json);
- Python: korvelan.analyze on a genes x studies DataFrame already in memory
  (conversion in, RunMeta, the DataFrame out), and the whole process
  (interpreter start, import, reading the tables with pandas, analyze).

Wall times, and CPU times (user + system, all threads; steadier than wall
times on a shared machine). It also checks that both give the same numbers.
"""

from __future__ import annotations

import glob
import json
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build/release").resolve()
sys.path.insert(0, str(BUILD / "python"))

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

import korvelan  # noqa: E402

RUNS, SEED = 1000, 2024
REPEAT = int(os.environ.get("REPEAT", "9"))
THREADS = [int(t) for t in os.environ.get("THREADS", "1 2").split()]
TABLES = sorted(glob.glob(str(ROOT / "tests/tools/data/GSE*.tsv")))

WHOLE_PYTHON = """
import glob, os, sys, pandas as pd, korvelan
paths = sorted(glob.glob(sys.argv[1] + "/GSE*.tsv"))
long = pd.concat([pd.read_csv(p, sep="\\t").assign(study=os.path.basename(p)[:-4])
                  for p in paths])
wide = long.pivot(index="Symbol", columns="study", values="pvalue")
korvelan.analyze(wide, runs=int(sys.argv[2]), seed=int(sys.argv[3]), threads=int(sys.argv[4]))
"""


def wide_table() -> pd.DataFrame:
    parts = [pd.read_csv(p, sep="\t").assign(study=Path(p).stem) for p in TABLES]
    return pd.concat(parts).pivot(index="Symbol", columns="study", values="pvalue")


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def korvelan_meta(threads: int, out: Path) -> tuple[float, float, float]:
    """Wall time, CPU time, and the analysis phase's wall time."""
    start, cpu = time.perf_counter(), children_cpu()
    subprocess.run([str(BUILD / "korvelan-meta"), *TABLES, "--gene", "Symbol", "--pvalue",
                    "pvalue", "-o", str(out), "--force", "-q", "--runs", str(RUNS), "--seed",
                    str(SEED), "--threads", str(threads)], check=True, stdout=subprocess.DEVNULL)
    whole, cpu = time.perf_counter() - start, children_cpu() - cpu
    analysis = json.loads((out / "run.json").read_text())["timings_seconds"]["analysis"]
    return whole, cpu, analysis


def python_call(wide: pd.DataFrame, threads: int) -> tuple[float, float, pd.DataFrame]:
    """Wall and CPU time of one analyze() call in this process."""
    start, cpu = time.perf_counter(), time.process_time()
    frame = korvelan.analyze(wide, runs=RUNS, seed=SEED, threads=threads)
    return time.perf_counter() - start, time.process_time() - cpu, frame


def python_whole(threads: int) -> tuple[float, float]:
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    start, cpu = time.perf_counter(), children_cpu()
    subprocess.run(["/usr/bin/python3", "-c", WHOLE_PYTHON, str(ROOT / "tests/tools/data"),
                    str(RUNS), str(SEED), str(threads)], check=True, env=env)
    return time.perf_counter() - start, children_cpu() - cpu


def same_numbers(frame: pd.DataFrame, tsv: Path) -> bool:
    ref = pd.read_csv(tsv, sep="\t", keep_default_na=False, na_values=["NA"], index_col=0,
                      float_precision="round_trip")
    # results.tsv writes the single-precision statistics as floats.
    single = {"R_mean", "R_wmean", "Q"}

    def values(table: pd.DataFrame, c: str) -> np.ndarray:
        return table[c].to_numpy(np.float32 if c in single else float)

    return (list(ref.index) == list(frame.index) and list(ref.columns) == list(frame.columns)
            and all(np.array_equal(values(ref, c), values(frame, c), equal_nan=True)
                    for c in frame.columns))


def main() -> None:
    wide = wide_table()
    print(f"{len(TABLES)} studies, {len(wide)} genes, {RUNS} runs, seed {SEED}, "
          f"best of {REPEAT}; wall (CPU) seconds")
    print("| threads | korvelan-meta whole | its analysis | analyze() | analyze() / analysis "
          "| Python whole | Python / korvelan-meta whole |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as work:
        out = Path(work) / "out"
        for threads in THREADS:
            meta, calls, wholes = [], [], []
            for _ in range(REPEAT):
                meta.append(korvelan_meta(threads, out))
                calls.append(python_call(wide, threads))
                wholes.append(python_whole(threads))
            assert same_numbers(calls[-1][2], out / "results.tsv"), "Python and korvelan-meta differ"
            mw, mc, ma = (min(m[k] for m in meta) for k in range(3))
            cw, cc = (min(c[k] for c in calls) for k in range(2))
            pw, pc = (min(w[k] for w in wholes) for k in range(2))
            print(f"| {threads} | {mw:.3f} ({mc:.3f}) | {ma:.3f} | {cw:.3f} ({cc:.3f}) | "
                  f"{cw / ma:.3f} | {pw:.3f} ({pc:.3f}) | {pw / mw:.3f} ({pc / mc:.3f}) |")


if __name__ == "__main__":
    main()
