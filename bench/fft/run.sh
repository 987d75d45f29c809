#!/usr/bin/env bash
# FFT descriptor layer against raw FFTW and scipy.fft, one table.
# Usage: bench/fft/run.sh [build-dir] [case ...]   (default build dir: build)
# Builds nothing: run `cmake --build --preset release` first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
shift || true
bench="$build/bench/fft/fft_bench"
helper="$build/plugin/lumadex-fft-planner"
for f in "$bench" "$helper"; do
  [ -x "$f" ] || { echo "run.sh: $f is missing; build the release preset first" >&2; exit 1; }
done
# A fresh wisdom cache, so that first calls are really first calls.
cache="$(mktemp -d)"
trap 'rm -rf "$cache"' EXIT
# Each part runs alone: Python starting up beside fft_bench would disturb it.
table="$cache/table.tsv"
XDG_CACHE_HOME="$cache" "$bench" "$helper" "$@" > "$table"
/usr/bin/python3 "$here/scipy_bench.py" < "$table"
if [ $# -eq 0 ]; then
  # The same without idle time between calls, on one case: how the plan
  # policy treats a script's inner loop.
  rm -rf "$cache"/*
  echo
  echo "Tight loop (no idle time between calls):"
  XDG_CACHE_HOME="$cache" "$bench" "$helper" --tight-loop c2c-f32-1024x1024 c2c-f64-128x128x128 > "$table"
  /usr/bin/python3 "$here/scipy_bench.py" < "$table"
fi
