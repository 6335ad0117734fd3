#!/bin/sh
# The benchmark workloads, end to end: wall time and peak resident memory of
# the built program on each workload and thread count (the best of REPEAT
# runs), a check that every thread count wrote the same output.txt and
# screen, and the phase breakdown of korvelan-phases (loading MB/s,
# exchange steps per second, counting time per run).
#
#   bench/run_workloads.sh [BUILD_DIR [WORK_DIR]]
#
# BUILD_DIR defaults to build/release, WORK_DIR to a new temporary directory
# (the workloads are generated there once and kept). Environment:
#   WORKLOADS  default "real typical big largest"
#   THREADS    default "1 2"
#   REPEAT     default 3
#   ORACLE     "yes" also times the straightforward algorithm (korvelan-oracle)
#              on the real workload (N = 1000, about a minute or more) and on
#              the others with ORACLE_RUNS runs (default 2), to extrapolate.
#
# Workloads (seed 12345 for the runs):
#   real     the five-study example (examples/): P 7894, S 5, M 5, N 1000
#   typical  P 20000, S 10, 3 classes, 20 % missing, N 1000
#   big      P 100000, S 5, 1 class, 20 % missing, N 100
#   largest  P 499999, S 98, 10 classes, 20 % missing, N 10 (300 MB of text)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/dirs.sh"
workloads=${WORKLOADS:-real typical big largest}
threads=${THREADS:-1 2}
repeat=${REPEAT:-3}
seed=12345

for tool in korvelan korvelan-gendata korvelan-phases; do
  [ -x "$build/$tool" ] || { echo "missing $build/$tool: build it first" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (package time)" >&2; exit 2; }

prepare() {
  dir=$work/$1
  [ -f "$dir/answers.txt" ] && return 0
  mkdir -p "$dir"
  case $1 in
    real)
      cp "$here/examples/data.txt" "$here/examples/weights.txt" "$dir/"
      printf '1\n5\n7894\n5\n1000\n' > "$dir/answers.txt" ;;
    typical) "$build/korvelan-gendata" "$dir" 20000 10 3 0.2 1000 > /dev/null ;;
    big) "$build/korvelan-gendata" "$dir" 100000 5 1 0.2 100 > /dev/null ;;
    largest) "$build/korvelan-gendata" "$dir" 499999 98 10 0.2 10 > /dev/null ;;
    *) echo "unknown workload $1" >&2; exit 2 ;;
  esac
}

echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
     "$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
echo "build: $build"
echo "work: $work"
printf '%-8s %7s %9s %11s %8s\n' workload threads "wall s" "peak MiB" "same"
for w in $workloads; do
  prepare "$w"
  dir=$work/$w
  first=""
  for t in $threads; do
    best=""
    peak=0
    i=0
    while [ $i -lt "$repeat" ]; do
      (cd "$dir" && /usr/bin/time -f "%e %M" -o time.txt \
        "$build/korvelan" --seed $seed --threads "$t" < answers.txt > screen.txt)
      read -r e m < "$dir/time.txt"
      if [ -z "$best" ] || awk "BEGIN { exit !($e < $best) }"; then best=$e; fi
      [ "$m" -gt "$peak" ] && peak=$m
      i=$((i + 1))
    done
    same=yes
    if [ -z "$first" ]; then
      first=$t
      cp "$dir/output.txt" "$dir/output.first.txt"
      cp "$dir/screen.txt" "$dir/screen.first.txt"
    elif ! cmp -s "$dir/output.txt" "$dir/output.first.txt" ||
         ! cmp -s "$dir/screen.txt" "$dir/screen.first.txt"; then
      same="NO (differs from $first threads)"
    fi
    printf '%-8s %7s %9s %11.1f %8s\n' "$w" "$t" "$best" "$(echo "$peak" | awk '{print $1 / 1024}')" "$same"
  done
done

echo
echo "phases (korvelan-phases, one pass, runs not overlapped):"
for w in $workloads; do
  for t in $threads; do
    echo "--- $w"
    "$build/korvelan-phases" "$work/$w" "$t" $seed
  done
done

if [ "${ORACLE:-no}" = yes ]; then
  [ -x "$build/korvelan-oracle" ] || { echo "missing $build/korvelan-oracle" >&2; exit 2; }
  echo
  echo "straightforward algorithm (korvelan-oracle):"
  for w in $workloads; do
    if [ "$w" = real ]; then
      "$build/korvelan-oracle" "$work/$w" -1 $seed
      if cmp -s "$work/$w/output.oracle.txt" "$work/$w/output.first.txt"; then
        echo "real: output.oracle.txt is byte for byte the program's output.txt"
      else
        echo "real: output.oracle.txt DIFFERS from the program's output.txt"
      fi
    else
      "$build/korvelan-oracle" "$work/$w" "${ORACLE_RUNS:-2}" $seed
    fi
  done
fi
