"""The R and Python packages, as installed, against korvelan-meta.

    /usr/bin/python3 bench/packages_meta.py BUILD_DIR [NAME=R_LIBRARY ...]
        [--python NAME=INTERPRETER ...]

BUILD_DIR holds korvelan-meta; each NAME=R_LIBRARY is an R library where the
package korvelan is installed (e.g. one built with the old compile flags and
one with the new, side by side), each --python NAME=INTERPRETER an
interpreter that imports korvelan (e.g. a virtual environment's after
`pip install ./python`). All get the same studies: the five tables of
tests/tools/data as ranked lists (genes by ascending p-value, ties in file
order), written once as list files; 1000 runs, seed 2024, for each thread
count in THREADS (default "1 2"). Every contestant is a fresh process per
repetition, all taking turns so that a change in the machine's load hits
each; the median of REPEAT (default 5), which a busy neighbour on a shared
machine moves less than the best or the mean.

- korvelan-meta: its analysis phase (RunMeta alone, from run.json) and the
  whole process;
- a package: one korvelan() / analyze() call on the lists already in memory
  (the conversion in, RunMeta, the frame out), timed inside the process.

Wall and CPU seconds (user + system, all threads). It also checks that every
package gives results.tsv's numbers.
"""

from __future__ import annotations

import glob
import json
import math
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]
RUNS, SEED = 1000, 2024
REPEAT = int(os.environ.get("REPEAT", "5"))
THREADS = [int(t) for t in os.environ.get("THREADS", "1 2").split()]

PYTHON_CALL = """
import sys, time
from pathlib import Path
import korvelan
files, runs, seed, threads, out = sys.argv[1].split(","), *map(int, sys.argv[2:5]), sys.argv[5]
lists = {Path(f).stem: Path(f).read_text().split() for f in files}
start, cpu = time.perf_counter(), time.process_time()
frame = korvelan.analyze(lists, runs=runs, seed=seed, threads=threads)
print(time.perf_counter() - start, time.process_time() - cpu)
if out != "-":
    frame.to_csv(out, sep="\\t", float_format="%.17g", na_rep="NA")
"""

R_CALL = """
args <- commandArgs(TRUE)
files <- strsplit(args[1], ",")[[1]]
lists <- lapply(files, readLines)
names(lists) <- sub("[.]txt$", "", basename(files))
suppressPackageStartupMessages(library(korvelan))
n <- as.integer(args[2:4])
t <- system.time(res <- korvelan(lists, runs = n[1], seed = n[2], threads = n[3],
                                 verbose = FALSE), gcFirst = FALSE)
cat(t[["elapsed"]], t[["user.self"]] + t[["sys.self"]], "\\n")
if (args[5] != "-") {
  res[] <- lapply(res, function(v) if (is.double(v)) sprintf("%.17g", v) else v)
  utils::write.table(res, args[5], sep = "\\t", quote = FALSE, row.names = FALSE)
}
"""


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def write_lists(work: Path) -> list[Path]:
    files = []
    for table in sorted(glob.glob(str(ROOT / "tests/tools/data/GSE*.tsv"))):
        lines = Path(table).read_text(encoding="utf-8").splitlines()
        header = lines[0].split("\t")
        gene, pvalue = header.index("Symbol"), header.index("pvalue")
        rows = [line.split("\t") for line in lines[1:]]
        rows = [r for r in rows if r[gene] and r[pvalue] not in ("", "NA")]
        rows.sort(key=lambda r: float(r[pvalue]))  # stable: ties in file order
        files.append(work / f"{Path(table).stem}.txt")
        seen, ids = set(), []
        for r in rows:
            if r[gene] not in seen:
                seen.add(r[gene])
                ids.append(r[gene])
        files[-1].write_text("".join(f"{g}\n" for g in ids), encoding="utf-8")
    return files


def meta(build: Path, files: list[Path], threads: int, out: Path) -> tuple[float, float, float]:
    start, cpu = time.perf_counter(), children_cpu()
    subprocess.run([str(build / "korvelan-meta"), *map(str, files), "--input-format", "lists",
                    "-o", str(out), "--force", "-q", "--runs", str(RUNS), "--seed", str(SEED),
                    "--threads", str(threads)], check=True, stdout=subprocess.DEVNULL)
    whole, cpu = time.perf_counter() - start, children_cpu() - cpu
    analysis = json.loads((out / "run.json").read_text())["timings_seconds"]["analysis"]
    return analysis, whole, cpu


def package(command: list[str], env: dict[str, str], files: list[Path], threads: int,
            out: str) -> tuple[float, float]:
    done = subprocess.run([*command, ",".join(map(str, files)), str(RUNS), str(SEED),
                           str(threads), out], capture_output=True, text=True, env=env)
    if done.returncode != 0:
        sys.exit(f"{command[0]} failed:\n{done.stderr}")
    wall, cpu = map(float, done.stdout.split())
    return wall, cpu


def same_numbers(table: Path, reference: Path) -> bool:
    def read(path: Path) -> dict[str, list[str]]:
        lines = path.read_text(encoding="utf-8").splitlines()
        header = lines[0].split("\t")
        rows = sorted(line.split("\t") for line in lines[1:])
        return {name: [r[c] for r in rows] for c, name in enumerate(header)}

    def number(text: str, single: bool) -> float:
        value = math.nan if text == "NA" else float(text)
        return float(np.float32(value)) if single else value

    mine, ref = read(table), read(reference)
    for name, values in ref.items():
        if name == "gene":
            if mine.get("gene", mine.get("")) != values:
                return False
            continue
        single = name in ("R_mean", "R_wmean", "Q")
        got = [number(v, single) for v in mine[name]]
        want = [number(v, single) for v in values]
        if any(not (a == b or (math.isnan(a) and math.isnan(b))) for a, b in zip(got, want)):
            return False
    return True


def contestants(args: list[str]) -> list[tuple[str, list[str], dict[str, str]]]:
    out, python = [], False
    for arg in args:
        if arg == "--python":
            python = True
            continue
        name, _, where = arg.partition("=")
        if python:
            env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
            out.append((f"Python {name}", [where, "-c", PYTHON_CALL], env))
        else:
            env = dict(os.environ, R_LIBS=str(Path(where).resolve()))
            out.append((f"R {name}", ["Rscript", "-e", R_CALL], env))
        python = False
    return out


def main() -> None:
    build = Path(sys.argv[1]).resolve()
    rivals = contestants(sys.argv[2:])
    print(f"5 studies as ranked lists, {RUNS} runs, seed {SEED}, median of {REPEAT}; "
          "wall (CPU) seconds; ratio = call / korvelan-meta's analysis phase, CPU ratio = "
          "call / korvelan-meta's whole process")
    print("| threads | front end | call or analysis | ratio (CPU ratio) | korvelan-meta whole |")
    print("|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as work:
        files = write_lists(Path(work))
        out = Path(work) / "out"
        for threads in THREADS:
            metas = []
            calls: dict[str, list[tuple[float, float]]] = {name: [] for name, _, _ in rivals}
            for rep in range(REPEAT):
                metas.append(meta(build, files, threads, out))
                for name, command, env in rivals:
                    table = f"{work}/check.tsv" if rep == 0 else "-"
                    calls[name].append(package(command, env, files, threads, table))
                    if rep == 0:
                        assert same_numbers(Path(table), out / "results.tsv"), \
                            f"{name} and korvelan-meta differ"
            median = statistics.median
            analysis = median(m[0] for m in metas)
            whole, cpu = median(m[1] for m in metas), median(m[2] for m in metas)
            print(f"| {threads} | korvelan-meta | {analysis:.3f} | 1 | {whole:.3f} ({cpu:.3f}) |")
            for name, times in calls.items():
                wall, call_cpu = median(t[0] for t in times), median(t[1] for t in times)
                print(f"| {threads} | {name} | {wall:.3f} ({call_cpu:.3f}) | "
                      f"{wall / analysis:.3f} ({call_cpu / cpu:.3f}) | |")


if __name__ == "__main__":
    main()
