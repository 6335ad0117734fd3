#!/usr/bin/env bash
# Assembles the R package's source tree and builds its tarball:
#   r/build-package.sh [OUTDIR]     (default: build/r under the repository)
#   r/build-package.sh --install [R CMD INSTALL options...]
# The first leaves OUTDIR/korvelan/ (the assembled tree) and
# OUTDIR/korvelan_<version>.tar.gz, which installs with `R CMD INSTALL` on a
# machine without the rest of the repository. The second builds the tarball
# in a temporary directory, installs it (into R's default library unless the
# options say otherwise, e.g. --library=DIR) and removes the directory: the
# checkout is left as it was.
#
# The library's sources are copied into src/ here, at build time, and never
# committed under r/: the package always compiles the library of the commit
# it was built from. Which sources, and with which flags, comes from
# cmake/package-sources.txt, the list the Python package is built from too.
# The version comes from the top CMakeLists.txt (its project() VERSION), the
# one place that defines it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--install" ]; then
  shift
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/korvelan-r.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
  tarball=$(bash "$0" "$tmp" | tail -n 1)
  R CMD INSTALL "$@" "$tarball"
  exit 0
fi
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
cp -R "$root/r/R" "$root/r/man" "$root/r/tests" "$root/r/vignettes" "$root/r/NAMESPACE" \
  "$root/r/LICENSE" "$root/r/configure" "$root/r/cleanup" "$stage/"
sed "s/@VERSION@/$version/" "$root/r/DESCRIPTION.in" > "$stage/DESCRIPTION"
cp "$root/r/src/"*.cpp "$stage/src/"

# The library: the public headers as korvelan/*.h (the path its sources
# include them by), the listed sources and every header of their folders.
manifest=$root/cmake/package-sources.txt
sources=$(sed -n 's/^source //p' "$manifest")
flags=$(sed -n 's/^\(flags\|pic\) //p' "$manifest" | tr '\n' ' ')
mkdir -p "$stage/src/korvelan"
cp "$root/include/korvelan/"*.h "$stage/src/korvelan/"
sed -e "s/@PROJECT_VERSION@/$version/" -e "s/@PROJECT_VERSION_MAJOR@/$major/" \
    -e "s/@PROJECT_VERSION_MINOR@/$minor/" -e "s/@PROJECT_VERSION_PATCH@/$patch/" \
    "$root/include/korvelan/version.h.in" > "$stage/src/korvelan/version.h"
for source in $sources; do
  part=$(dirname "$source")
  if [ ! -d "$stage/src/$part" ]; then
    mkdir -p "$stage/src/$part"
    cp "$root/$part/"*.h "$stage/src/$part/"
  fi
  cp "$root/$source" "$stage/src/$part/"
done
# Generated sources (the report page's files as byte arrays), made as the
# CMake build makes them.
while read -r namespace target pairs; do
  files=""
  for pair in $pairs; do files+="${files:+;}${pair%%=*}=$root/${pair#*=}"; done
  mkdir -p "$stage/src/$(dirname "$target")"
  cmake -DOUTPUT="$stage/src/$target" -DNAMESPACE="$namespace" "-DFILES=$files" \
    -P "$root/cmake/EmbedFiles.cmake"
  sources+=" $target"
done < <(sed -n 's/^embed //p' "$manifest")
libs=$(sed -n 's/^libs //p' "$manifest" | tr '\n' ' ')
for f in "$root/r/src/"*.cpp; do sources+=" $(basename "$f")"; done

# Makevars names every object (R compiles only src/ itself otherwise) and
# gives each an explicit rule: R's suffix rules put its own CXXFLAGS (with
# their -O2) after the package's, and R passes CXXFLAGS on make's command
# line, where no assignment in Makevars overrides it. The rules keep R's
# compiler and flags and put KORVELAN_CXXFLAGS last, so that the Release
# build's optimisation and floating-point rules win. They spell every file
# name out: $< in an explicit rule is not portable make.
objects="" rules=""
for source in $sources; do
  object=${source%.*}.o
  objects+=" $object"
  rules+=$'\n'"$object: $source"$'\n\t'"\$(CXX) \$(ALL_CPPFLAGS) \$(ALL_CXXFLAGS) \$(KORVELAN_CXXFLAGS) -c $source -o $object"
done
{
  sed -e "s|@OBJECTS@|${objects# }|" -e "s|@KORVELAN_CXXFLAGS@|${flags% }|" \
    -e "s|@KORVELAN_LIBS@|${libs% }|" \
    "$root/r/src/Makevars.in"
  printf '%s\n' "$rules"
} > "$stage/src/Makevars.in"

# The vignette is not built here: building it would install (compile) the
# package once more. The tests knit it against the installed package.
(cd "$out" && R CMD build --no-manual --no-build-vignettes korvelan)
echo "$out/korvelan_$version.tar.gz"
