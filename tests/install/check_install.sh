#!/usr/bin/env bash
# Installs a configured build into a temporary prefix, then builds and runs
# a consumer project against it (CMake package and pkg-config), and builds
# the Debian package and checks its file list.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
for f in bin/korvelan bin/korvelan-prepare bin/korvelan-report bin/korvelan-meta lib/libkorvelan.a \
         include/korvelan/korvelan.h include/korvelan/analysis.h include/korvelan/meta.h include/korvelan/options.h include/korvelan/version.h \
         lib/libkorvelan_inputs.a include/korvelan/inputs.h include/korvelan/input_error.h \
         lib/cmake/korvelan/korvelanConfig.cmake lib/pkgconfig/korvelan.pc lib/pkgconfig/korvelan-inputs.pc \
         share/man/man1/korvelan.1 share/doc/korvelan/copyright; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done

# The programs need only what the Debian package depends on: the C and C++
# runtimes, libcrypto and zlib (libcsv is the tests' alone, the oracle of
# the tables' reader).
for b in korvelan korvelan-prepare korvelan-report korvelan-meta; do
  extra=$(ldd "$work/prefix/bin/$b" | awk '{print $1}' | grep -vE \
    '^(linux-vdso|/lib64/ld-linux-x86-64)|^lib(c|m|stdc\+\+|gcc_s|pthread|crypto|z)\.so' || true)
  [ -z "$extra" ] || { echo "bin/$b links more than the package depends on: $extra" >&2; exit 1; }
done

# The CMake package.
cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$work/prefix" > "$work/consumer.log"
cmake --build "$work/consumer" > "$work/consumer-build.log"
"$work/consumer/consumer" | tee "$work/consumer.out"
grep -q '^gene 1: class 3, R-mean 1.4167' "$work/consumer.out"
"$work/consumer/consumer-inputs" | tee "$work/consumer-inputs.out"
grep -q '^2 studies (tables), absent genes missing$' "$work/consumer-inputs.out"
grep -q '^g2: R-mean 1.5000$' "$work/consumer-inputs.out"
grep -q '^page: html$' "$work/consumer-inputs.out"
grep -q '^first = middle: refused (usage)$' "$work/consumer-inputs.out"

# pkg-config.
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" \
  g++ -std=c++20 "$here/consumer/main.cc" -o "$work/consumer-pc" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs korvelan)
"$work/consumer-pc" | cmp - "$work/consumer.out"
# A static archive: --static adds the libraries libkorvelan_inputs.a calls.
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" \
  g++ -std=c++20 "$here/consumer/inputs_main.cc" -o "$work/consumer-inputs-pc" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --static --cflags --libs korvelan-inputs)
"$work/consumer-inputs-pc" | cmp - "$work/consumer-inputs.out"

# The Debian package.
(cd "$build" && cpack -G DEB -B "$work/deb" > "$work/cpack.log")
deb=$(ls "$work"/deb/*.deb)
dpkg-deb -c "$deb" | awk '{print $NF}' > "$work/deb.list"
for f in ./usr/bin/korvelan ./usr/bin/korvelan-prepare ./usr/bin/korvelan-report \
         ./usr/lib/libkorvelan.a ./usr/include/korvelan/korvelan.h \
         ./usr/lib/libkorvelan_inputs.a ./usr/include/korvelan/inputs.h \
         ./usr/include/korvelan/input_error.h ./usr/lib/pkgconfig/korvelan-inputs.pc \
         ./usr/lib/cmake/korvelan/korvelanConfig.cmake ./usr/lib/pkgconfig/korvelan.pc \
         ./usr/share/man/man1/korvelan.1 ./usr/share/man/man1/korvelan-prepare.1 \
         ./usr/share/man/man1/korvelan-report.1 ./usr/bin/korvelan-meta \
         ./usr/share/man/man1/korvelan-meta.1 ./usr/share/doc/korvelan/copyright; do
  grep -qx "$f" "$work/deb.list" || { echo "not in $(basename "$deb"): $f" >&2; exit 1; }
done
# korvelan::inputs's libraries, for whoever links it.
dpkg-deb -f "$deb" Suggests | grep -q 'libssl-dev, zlib1g-dev' ||
  { echo "$(basename "$deb") does not suggest libkorvelan_inputs.a's libraries" >&2; exit 1; }
echo "install check passed: $(basename "$deb"), $(wc -l < "$work/deb.list") entries"
