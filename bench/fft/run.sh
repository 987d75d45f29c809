#!/usr/bin/env bash
# FFT descriptor layer against raw FFTW and scipy.fft.
# Usage: bench/fft/run.sh [build-dir] [--paused|--tight] [case ...]
#   (default build dir: build; default: both sections, all their cases)
# Builds nothing: run `cmake --build --preset release` first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
shift || true
section=both
case "${1:-}" in --paused) section=paused; shift ;; --tight) section=tight; shift ;; esac
bench="$build/bench/fft/fft_bench"
[ -x "$bench" ] || { echo "run.sh: $bench is missing; build the release preset first" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
table="$work/table.tsv"

if [ "$section" != tight ]; then
  # Calls with a script's idle time between them, from an empty plan cache.
  # Each part runs alone: Python starting up beside fft_bench would disturb it.
  mkdir -p "$work/cache"
  XDG_CACHE_HOME="$work/cache" "$bench" "$@" > "$table"
  /usr/bin/python3 "$here/scipy_bench.py" < "$table"
fi

if [ "$section" != paused ]; then
  # A script's inner loop as a new user first runs it: every case in a fresh
  # process with an empty plan cache, 300 calls back to back.
  [ "$section" = both ] && echo
  tight_cases=("$@")
  [ ${#tight_cases[@]} -gt 0 ] || tight_cases=(c2c-f32-1024x1024 c2c-f32-2048x2048 c2c-f64-1000x1000 r2c-f32-2048x2048)
  # scipy is timed right after each case, so that both sides of a row meet
  # the machine in the same mood (this VM's speed drifts by tens of percent).
  "$bench" --tight-loop --threads=9 | /usr/bin/python3 "$here/scipy_bench.py"  # the header only
  for threads in 1 2; do
    for c in "${tight_cases[@]}"; do
      rm -rf "$work/cache" && mkdir -p "$work/cache"
      XDG_CACHE_HOME="$work/cache" "$bench" --tight-loop --threads=$threads "$c" > "$table"
      /usr/bin/python3 "$here/scipy_bench.py" --no-header < "$table"
    done
  done
fi
