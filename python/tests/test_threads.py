"""The analysis releases the GIL, runs beside other analyses without
changing them, and stops at Ctrl-C with the interpreter going on."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pandas as pd

import korvelan
from conftest import DATA


def test_other_python_threads_run_during_an_analysis(ranked_lists):
    ticks: list[float] = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        start = time.monotonic()
        korvelan.analyze(ranked_lists, runs=1500, seed=5, threads=1)
        end = time.monotonic()
    finally:
        done.set()
        ticker.join()
    inside = [t for t in ticks if start <= t <= end]
    gaps = [b - a for a, b in zip(inside, inside[1:])]
    # Holding the GIL would stop the ticker for the whole analysis.
    assert len(inside) > 20 and max(gaps) < (end - start) / 2, (len(inside), max(gaps))


def test_analyses_in_two_threads_equal_one_after_another(ranked_lists, wide_table):
    jobs = [(ranked_lists, {"seed": 1, "threads": 2}), (wide_table, {"seed": 2, "threads": 1}),
            (ranked_lists, {"seed": 3, "threads": 1, "absent": "missing"})]
    alone = [korvelan.analyze(data, runs=50, **options) for data, options in jobs]
    with ThreadPoolExecutor(max_workers=len(jobs)) as pool:
        together = list(pool.map(lambda job: korvelan.analyze(job[0], runs=50, **job[1]), jobs))
    for a, b in zip(alone, together):
        pd.testing.assert_frame_equal(a, b, check_exact=True)


CHILD = textwrap.dedent("""
    import glob, os, sys, time
    import pandas as pd
    import korvelan

    def tasks():
        return len(os.listdir("/proc/self/task"))

    studies = {os.path.basename(p): pd.read_csv(p, sep="\\t")["Symbol"].tolist()
               for p in sorted(glob.glob(os.path.join(sys.argv[1], "GSE*.tsv")))}
    small = korvelan.analyze(studies, runs=3, seed=9)
    before = tasks()
    print("running", flush=True)
    try:
        korvelan.analyze(studies, runs=1000000, seed=1, threads=2)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", time.monotonic(), flush=True)
    print("tasks", before, tasks(), flush=True)
    again = korvelan.analyze(studies, runs=3, seed=9)
    print("continued", again.equals(small), flush=True)
""")


def test_ctrl_c_stops_the_analysis_and_the_interpreter_goes_on():
    env = dict(os.environ, PYTHONUNBUFFERED="1")
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(DATA)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=env)
    try:
        assert child.stdout.readline() == "running\n"
        time.sleep(0.5)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        # A million runs would take hours; a stop takes a fraction of a second.
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
        child.wait()
    lines = out.splitlines()
    assert lines[0].startswith("interrupted "), (out, err)
    latency = float(lines[0].split()[1]) - sent
    _, before, after = lines[1].split()
    assert before == after, "the analysis's threads outlived it"
    assert lines[2] == "continued True", (out, err)
    assert child.returncode == 0, err
    print(f"KeyboardInterrupt {latency:.3f} s after SIGINT")
