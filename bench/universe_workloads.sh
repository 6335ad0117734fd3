#!/bin/sh
# Top-k lists over a universe, end to end with the built korvelan-meta: best
# wall time of REPEAT runs and peak resident memory (/usr/bin/time -f "%e
# %M") for each thread count in THREADS, and a check that every thread count
# wrote the same results.tsv.
#
#   bench/universe_workloads.sh [BUILD_DIR [WORK_DIR]]
#
# Workloads (ten random top-200 lists, ids g0 .. g<N-1>, absent genes below,
# the universe given as its size, seed 12345):
#   u20000    a universe of 20000 genes, N = 10000 runs
#   u499999   a universe of 499999 genes, N = RUNS_499999 runs (default 100)
# Environment: WORKLOADS (default "u20000 u499999"), THREADS (default
# "1 2"), REPEAT (default 3), RUNS_499999.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/dirs.sh"
workloads=${WORKLOADS:-u20000 u499999}
threads=${THREADS:-1 2}
repeat=${REPEAT:-3}
[ -x "$build/korvelan-meta" ] || { echo "missing $build/korvelan-meta: build it first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (package time)" >&2; exit 2; }

# Ten top-200 lists drawn from g0 .. g<N-1> (awk's generator, fixed seed).
lists() {
  dir=$work/lists-$1
  [ -f "$dir/list10.txt" ] && return 0
  mkdir -p "$dir"
  awk -v n="$1" -v dir="$dir" 'BEGIN {
    srand(12345)
    for (l = 1; l <= 10; ++l) {
      delete used; file = dir "/list" l ".txt"; got = 0
      while (got < 200) {
        g = int(rand() * n); if (g in used) continue
        used[g] = 1; print "g" g > file; ++got
      }
      close(file)
    }
  }'
}

printf '%-8s %6s %7s %9s %9s %5s\n' workload runs threads "wall s" "peak MiB" same
for w in $workloads; do
  case $w in
    u20000) n=20000; runs=10000 ;;
    u499999) n=499999; runs=${RUNS_499999:-100} ;;
    *) echo "unknown workload $w" >&2; exit 2 ;;
  esac
  lists "$n"
  first=
  for t in $threads; do
    best=; peak=
    for _ in $(seq "$repeat"); do
      out=$work/out-$w-$t
      /usr/bin/time -f "%e %M" -o "$work/time" "$build/korvelan-meta" --input-format lists \
        --absent below --universe "$n" --runs "$runs" --seed 12345 --threads "$t" \
        --force -o "$out" "$work/lists-$n"/list*.txt > /dev/null 2> "$work/stderr" ||
        { cat "$work/stderr" >&2; exit 1; }
      read -r e m < "$work/time"
      if [ -z "$best" ]; then best=$e; else best=$(echo "$best $e" | awk '{print ($2 < $1) ? $2 : $1}'); fi
      peak=$m
    done
    same=yes
    [ -z "$first" ] && first=$out/results.tsv
    cmp -s "$first" "$out/results.tsv" || same=NO
    printf '%-8s %6s %7s %9s %9.1f %5s\n' "$w" "$runs" "$t" "$best" "$(echo "$peak" | awk '{print $1 / 1024}')" "$same"
  done
done
