#!/usr/bin/env bash
# The vector-math layer: speed against numpy / scipy.special and a memcpy
# (one table), then its accuracy against long double references.
# Usage: bench/vml/run.sh [build-dir] [--speed [function[:precisions] ...] | --accuracy [count] | --threshold]
# (e.g. --speed Tan Exp:d AddInPlace: every precision of Tan, double Exp, the in-place Add row)
# Builds nothing: run `cmake --build --preset release` first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
what="${2:-all}"
shift 2 || true
for f in libvml_shim.so vml_bench vml_accuracy; do
  [ -e "$build/bench/vml/$f" ] || { echo "run.sh: $build/bench/vml/$f is missing; build the release preset first" >&2; exit 1; }
done
if [ "$what" = all ] || [ "$what" = --speed ]; then
  OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 /usr/bin/python3 "$here/compare.py" "$build/bench/vml/libvml_shim.so" "$@"
fi
if [ "$what" = --threshold ]; then
  "$build/bench/vml/vml_bench"
fi
if [ "$what" = all ] || [ "$what" = --accuracy ]; then
  echo
  "$build/bench/vml/vml_accuracy" "$@"
fi
