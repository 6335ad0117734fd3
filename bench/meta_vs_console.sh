#!/bin/bash
# korvelan-meta against the console program on the same data, runs, seed
# and threads: the five real studies (tests/tools/data, 7894 genes) as
# korvelan-meta reads them (the per-study tables, by p-value) and as the
# console program reads them (examples/data.txt, the same p-value ranks),
# 1000 runs, seed 2024. For each thread count in THREADS (default "1 2"):
# the median and best wall time in milliseconds of REPEAT runs (default 5)
# of each program, taken in turns, their ratio, and korvelan-meta's own
# steps (read, analysis, write: the medians of run.json's timings).
#
#   bench/meta_vs_console.sh [BUILD_DIR [WORK_DIR]]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/bench/dirs.sh"
threads=${THREADS:-1 2}
repeat=${REPEAT:-5}
for tool in korvelan korvelan-meta; do
  [ -x "$build/$tool" ] || { echo "missing $build/$tool: build it first" >&2; exit 2; }
done
cp "$here/examples/data.txt" "$here/examples/weights.txt" "$work/"
printf '1\n5\n7894\n5\n1000\n' > "$work/answers.txt"

# Wall milliseconds of a command, appended to file $1 (bash's clock, in
# microseconds: /usr/bin/time counts hundredths, a tenth of a run here).
timed() {
  local out=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@"
  end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.1f\n", ($2 - $1) * 1000 }' >> "$out"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
best() { sort -n | head -1; }
timing() { tr -d ' \n' < "$1" | sed 's/.*"timings_seconds":{//; s/}.*//' | tr ',' '\n' | grep "\"$2\"" | cut -d: -f2; }

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%7s %19s %19s %6s %8s %8s %8s\n' threads "console ms med/best" "meta ms med/best" ratio read analysis write
for t in $threads; do
  : > "$work/console.t"; : > "$work/meta.t"; : > "$work/read.t"; : > "$work/analysis.t"; : > "$work/write.t"
  i=0
  while [ $i -lt "$repeat" ]; do
    (cd "$work" && timed console.t "$build/korvelan" --seed 2024 --threads "$t" \
      < answers.txt > screen.txt)
    timed "$work/meta.t" "$build/korvelan-meta" \
      "$here"/tests/tools/data/GSE*.tsv --gene Symbol --pvalue pvalue --runs 1000 --seed 2024 \
      --threads "$t" -q --force -o "$work/out" > /dev/null
    for step in read analysis write; do timing "$work/out/run.json" $step >> "$work/$step.t"; done
    i=$((i + 1))
  done
  cm=$(median < "$work/console.t"); cb=$(best < "$work/console.t")
  mm=$(median < "$work/meta.t"); mb=$(best < "$work/meta.t")
  printf '%7s %10s/%-8s %10s/%-8s %6.3f %8.3f %8.3f %8.3f\n' "$t" "$cm" "$cb" "$mm" "$mb" \
    "$(echo "$mm $cm" | awk '{print $1 / $2}')" "$(median < "$work/read.t")" \
    "$(median < "$work/analysis.t")" "$(median < "$work/write.t")"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
