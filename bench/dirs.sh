# Sourced by the benchmark scripts after they set `here` (the repository):
# `build` is their first argument (default build/release) and `work` their
# second (default a fresh temporary directory), both made absolute, `work`
# created.
build=$(cd "${1:-$here/build/release}" && pwd)
work=${2:-$(mktemp -d)}
mkdir -p "$work"
work=$(cd "$work" && pwd)
