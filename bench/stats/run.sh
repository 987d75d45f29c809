#!/usr/bin/env bash
# The statistics functions against one parallel read pass and numpy, one table.
# Usage: bench/stats/run.sh [build-dir] [case ...]   (default build dir: build)
# Builds nothing: run `cmake --build --preset release` first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
shift || true
bench="$build/bench/stats/stats_bench"
[ -x "$bench" ] || { echo "run.sh: $bench is missing; build the release preset first" >&2; exit 1; }
table="$(mktemp)"
trap 'rm -f "$table"' EXIT
# Each part runs alone, so that numpy starting up does not disturb the plug-in's timings.
# The plug-in's part runs three times: a slow spell of the machine during one
# run does not decide its figures (numpy_bench.py takes the best of the three).
"$bench" "$@" > "$table"
for _ in 1 2; do "$bench" "$@" | tail -n +2 >> "$table"; done
/usr/bin/python3 "$here/numpy_bench.py" < "$table"
