#!/usr/bin/env bash
# Assembles the R package's source tree and builds its tarball:
#   r/build-package.sh [OUTDIR]     (default: build/r under the repository)
# leaves OUTDIR/korvelan/ (the assembled tree) and
# OUTDIR/korvelan_<version>.tar.gz, which installs with `R CMD INSTALL` on a
# machine without the rest of the repository.
#
# The library's sources are copied into src/ here, at build time, and never
# committed under r/: the package always compiles the library of the commit
# it was built from. The version comes from the top CMakeLists.txt (its
# project() VERSION), the one place that defines it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/r}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^project(korvelan VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [[ ! $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]]; then
  echo "build-package.sh: no project(korvelan VERSION x.y.z) in CMakeLists.txt" >&2
  exit 1
fi
major=${BASH_REMATCH[1]} minor=${BASH_REMATCH[2]} patch=${BASH_REMATCH[3]}

stage=$out/korvelan
rm -rf "$stage"
mkdir -p "$stage/src"
cp -R "$root/r/R" "$root/r/man" "$root/r/tests" "$root/r/NAMESPACE" "$root/r/LICENSE" \
  "$root/r/configure" "$root/r/cleanup" "$stage/"
sed "s/@VERSION@/$version/" "$root/r/DESCRIPTION.in" > "$stage/DESCRIPTION"
cp "$root/r/src/"*.cpp "$stage/src/"

# The library: the public headers as korvelan/*.h (the path its sources
# include them by), and every source of the parts libkorvelan.a is made of.
# Each part's folder holds only that part's sources. Left out: the console
# program's process endings (exit statuses, signal handlers), which no
# library call reaches and which a package must not hold (they could end
# R's process); should a library source come to need them, loading the
# package fails on the undefined symbol.
not_vendored=" textio/endings.cc "
mkdir -p "$stage/src/korvelan"
cp "$root/include/korvelan/"*.h "$stage/src/korvelan/"
sed -e "s/@PROJECT_VERSION@/$version/" -e "s/@PROJECT_VERSION_MAJOR@/$major/" \
    -e "s/@PROJECT_VERSION_MINOR@/$minor/" -e "s/@PROJECT_VERSION_PATCH@/$patch/" \
    "$root/include/korvelan/version.h.in" > "$stage/src/korvelan/version.h"
objects=""
for part in library engine numeric textio; do
  mkdir -p "$stage/src/$part"
  for f in "$root/$part/"*.cc "$root/$part/"*.h; do
    [ -e "$f" ] || continue
    [[ $not_vendored == *" $part/$(basename "$f") "* ]] && continue
    cp "$f" "$stage/src/$part/"
    case $f in *.cc) objects+=" $part/$(basename "${f%.cc}").o" ;; esac
  done
done
for f in "$root/r/src/"*.cpp; do objects+=" $(basename "${f%.cpp}").o"; done
# Makevars names every object: R compiles only src/ itself otherwise.
# configure makes src/Makevars of it when the package is installed.
sed "s|@OBJECTS@|${objects# }|" "$root/r/src/Makevars.in" > "$stage/src/Makevars.in"

(cd "$out" && R CMD build --no-manual korvelan)
echo "$out/korvelan_$version.tar.gz"
