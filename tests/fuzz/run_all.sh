#!/usr/bin/env bash
# Runs every libFuzzer target in BUILD_DIR/tests/fuzz for SECONDS each.
#
#   tests/fuzz/run_all.sh BUILD_DIR SECONDS
#
# Each fuzzer NAME_fuzzer works on a temporary copy of its seed corpus
# tests/fuzz/corpus/NAME (the checked-in corpus never changes). Inputs that
# crash, hang or trip a sanitizer are kept in BUILD_DIR/tests/fuzz/artifacts/
# NAME/. Prints the executions of every fuzzer (and the end of its log when
# it fails). Exits non-zero when any fuzzer fails or none is found.
#
# FUZZ_JOBS fuzzers run at once (default: 2, one per core of the CI
# machine), so the smoke run costs SECONDS per pair rather than per fuzzer.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build_dir=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
fuzz_dir=$build_dir/tests/fuzz

shopt -s nullglob
fuzzers=()
for f in "$fuzz_dir"/*_fuzzer; do
  [ -f "$f" ] && [ -x "$f" ] && fuzzers+=("$f")
done
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "run_all.sh: no fuzzers in $fuzz_dir" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

jobs=${FUZZ_JOBS:-2}

# One fuzzer on its own copy of its corpus; its verdict goes to NAME.result.
run_one() {
  local f=$1 name corpus artifacts log status=0 runs
  name=$(basename "$f")
  name=${name%_fuzzer}
  corpus=$work/$name
  mkdir -p "$corpus"
  if [ -d "$here/corpus/$name" ]; then
    cp -R "$here/corpus/$name/." "$corpus/"
  fi
  artifacts=$fuzz_dir/artifacts/$name
  mkdir -p "$artifacts"
  log=$work/$name.log
  "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 \
    || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    echo "$name: FAILED after ${runs:-?} executions" >"$work/$name.result"
  else
    echo "$name: ${runs:-?} executions, no findings" >"$work/$name.result"
  fi
}

for f in "${fuzzers[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  echo "+ $(basename "$f" _fuzzer): ${seconds}s"
  run_one "$f" &
done
wait

failed=()
summary=()
for f in "${fuzzers[@]}"; do
  name=$(basename "$f" _fuzzer)
  result=$(cat "$work/$name.result" 2>/dev/null || echo "$name: FAILED (no verdict)")
  summary+=("$result")
  if [[ $result == *FAILED* ]]; then
    tail -n 60 "$work/$name.log" 2>/dev/null || true
    failed+=("$name")
  fi
done

printf '%s\n' "${summary[@]}"

if [ ${#failed[@]} -gt 0 ]; then
  echo "run_all.sh: failed: ${failed[*]} (inputs in $fuzz_dir/artifacts)" >&2
  exit 1
fi
echo "run_all.sh: all ${#fuzzers[@]} fuzzer(s) passed"
