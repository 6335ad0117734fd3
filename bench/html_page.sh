#!/usr/bin/env bash
# Timing of the HTML report (not a test): for each gene count in SIZES
# (default "20000 499999"), a synthetic five-study workload through
# korvelan (100 runs) and korvelan-report --html, then the page opened from
# a file:// URL in headless Chromium (network off): time to the first
# complete drawing, and the time of a sort, a filter and a scroll there.
# Usage: bench/html_page.sh [BUILD_DIR [WORK_DIR]]
set -euo pipefail
build=$(realpath "${1:-build/release}")
work=${2:-$(mktemp -d)}
here=$(dirname "$(realpath "$0")")
mkdir -p "$work"
for genes in ${SIZES:-20000 499999}; do
  dir="$work/p$genes"
  mkdir -p "$dir"
  if [ ! -f "$dir/output.txt" ]; then
    "$build/korvelan-gendata" "$dir" "$genes" 5 5 0.2 100 12345 > /dev/null
    (cd "$dir" && "$build/korvelan" --seed 12345 --threads 2 < answers.txt > screen.txt)
    # genes.tsv as korvelan-prepare writes it: line, gene, class, ranks.
    awk 'BEGIN { OFS = "\t"; print "line", "gene", "class", "S1", "S2", "S3", "S4", "S5" }
         { print $1, sprintf("GENE%06d", $1), $7, $2, $3, $4, $5, $6 }' \
      "$dir/data.txt" > "$dir/genes.tsv"
  fi
  /usr/bin/time -f "korvelan-report --html, $genes genes: %e s, %M KB peak" \
    "$build/korvelan-report" "$dir" --seed 12345 --html "$dir/report.html" > /dev/null
  echo "page: $(du -m "$dir/report.html" | cut -f1) MB"
  /usr/bin/python3 "$here/html_open.py" "$dir/report.html" "${REPEAT:-3}"
done
