#!/usr/bin/env bash
# The R package's tests, as a user gets the package: build the tarball from
# this checkout, install it into a temporary library, run its testthat tests.
#   run_r_tests.sh REPO OUTDIR ORACLE KORVELAN_META
set -euo pipefail
repo=$1 out=$2 oracle=$3 meta=$4
tarball=$(bash "$repo/r/build-package.sh" "$out" | tail -n 1)
lib=$(mktemp -d)
trap 'rm -rf "$lib"' EXIT
MAKEFLAGS=${MAKEFLAGS:--j2} R CMD INSTALL --no-docs -l "$lib" "$tarball"
cd "$out/korvelan/tests"
KORVELAN_REPO=$repo KORVELAN_ORACLE=$oracle KORVELAN_META=$meta R_LIBS="$lib" Rscript -e '
  library(testthat)
  library(korvelan)
  test_dir("testthat", reporter = ProgressReporter$new(show_praise = FALSE),
           stop_on_failure = TRUE)'
