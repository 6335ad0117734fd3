#!/usr/bin/env bash
# The R package's tests, as a user gets the package: build the tarball from
# this checkout, install it into a library of its own, run its testthat tests.
#   run_r_tests.sh REPO OUTDIR ORACLE KORVELAN_META
# The installation stays in OUTDIR/lib with its output in OUTDIR/install.log,
# so that `R CMD check --install=check:OUTDIR/install.log --library=OUTDIR/lib`
# can check it without compiling the package a second time (CI does).
set -euo pipefail
repo=$1 out=$2 oracle=$3 meta=$4
tarball=$(bash "$repo/r/build-package.sh" "$out" | tail -n 1)
lib=$out/lib
log=$out/install.log
rm -rf "$lib" "$log"
mkdir -p "$lib"
# A failed run leaves neither behind, so nothing checks a stale installation.
trap 'status=$?; [ $status -eq 0 ] || rm -rf "$lib" "$log"' EXIT
MAKEFLAGS=${MAKEFLAGS:--j2} R CMD INSTALL -l "$lib" "$tarball" > "$log" 2>&1 \
  || { cat "$log"; exit 1; }
cat "$log"
# Every object compiled with the package's flags last, after R's own, so
# that the Release build's optimisation is the one in force.
flags=$(sed -n 's/^\(flags\|pic\) //p' "$repo/cmake/package-sources.txt" | tr '\n' ' ')
objects=$(sed -n 's/^OBJECTS = //p' "$out/korvelan/src/Makevars.in" | wc -w)
compiled=$(grep -c -F -- "${flags% } -c " "$log" || true)
if [ "$objects" -eq 0 ] || [ "$compiled" -ne "$objects" ]; then
  echo "run_r_tests.sh: $compiled of $objects objects compiled with the package's" \
       "flags ($flags) last" >&2
  exit 1
fi
cd "$out/korvelan/tests"
KORVELAN_REPO=$repo KORVELAN_ORACLE=$oracle KORVELAN_META=$meta R_LIBS="$lib" Rscript -e '
  library(testthat)
  library(korvelan)
  test_dir("testthat", reporter = ProgressReporter$new(show_praise = FALSE),
           stop_on_failure = TRUE)'
# The vignette, run as a reader runs it: every chunk against the installed
# package (a failing chunk stops it).
cd "$out/korvelan/vignettes"
R_LIBS="$lib" Rscript -e 'knitr::knit("korvelan.Rmd", output = tempfile(fileext = ".md"), quiet = TRUE)'
