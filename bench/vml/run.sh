#!/usr/bin/env bash
# The vector-math layer against numpy / scipy.special and a memcpy, one table;
# then its accuracy against long double references.
# Usage: bench/vml/run.sh [build-dir] [--speed | --accuracy | --threshold] [function]
# Builds nothing: run `cmake --build --preset release` first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
what="${2:-all}"
only="${3:-}"
for f in vml_bench vml_accuracy; do
  [ -x "$build/bench/vml/$f" ] || { echo "run.sh: $build/bench/vml/$f is missing; build the release preset first" >&2; exit 1; }
done
# Each side runs alone: numpy timing beside our own would disturb both.
table="$(mktemp)"
trap 'rm -f "$table"' EXIT
if [ "$what" = all ] || [ "$what" = --speed ]; then
  "$build/bench/vml/vml_bench" $only > "$table"
  OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 /usr/bin/python3 "$here/compare.py" < "$table"
fi
if [ "$what" = --threshold ]; then
  "$build/bench/vml/vml_bench" --threshold
fi
if [ "$what" = all ] || [ "$what" = --accuracy ]; then
  echo
  "$build/bench/vml/vml_accuracy" ${only:-1000000}
fi
