#!/usr/bin/env bash
# FFT descriptor layer against raw FFTW and scipy.fft.
# Usage: bench/fft/run.sh [build-dir] [--paused|--tight|--first] [case ...]
#   (default build dir: build; default: every section, all their cases)
# Builds nothing: run `cmake --build --preset release` first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
shift || true
section=all
case "${1:-}" in --paused) section=paused; shift ;; --tight) section=tight; shift ;; --first) section=first; shift ;; esac
bench="$build/bench/fft/fft_bench"
[ -x "$bench" ] || { echo "run.sh: $bench is missing; build the release preset first" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
table="$work/table.tsv"

if [ "$section" = all ] || [ "$section" = paused ]; then
  # Calls with a script's idle time between them, from an empty plan cache.
  # Each part runs alone: Python starting up beside fft_bench would disturb it.
  mkdir -p "$work/cache"
  XDG_CACHE_HOME="$work/cache" "$bench" "$@" > "$table"
  /usr/bin/python3 "$here/scipy_bench.py" < "$table"
fi

if [ "$section" = all ] || [ "$section" = tight ]; then
  # A script's inner loop as a new user first runs it: every case in a fresh
  # process with an empty plan cache, 300 calls back to back.
  [ "$section" = all ] && echo
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

if [ "$section" = all ] || [ "$section" = first ]; then
  # A new user's first calls of each transform the kernel library makes: every
  # case in a fresh process with an empty plan cache, scipy timed right after.
  [ "$section" = all ] && echo
  known="$work/first-calls.tsv"
  "$bench" --first-calls --threads=9 | tee "$known" | /usr/bin/python3 "$here/scipy_bench.py"  # the header only
  if [ $# -gt 0 ]; then first_cases=("$@"); else mapfile -t first_cases < <("$bench" --list-first-calls); fi
  for threads in 1 2; do
    for c in "${first_cases[@]}"; do
      # Three fresh processes, their medians taken: a first call is one sample.
      for run in 1 2 3; do
        rm -rf "$work/cache" && mkdir -p "$work/cache"
        XDG_CACHE_HOME="$work/cache" "$bench" --first-calls --threads=$threads "$c" > "$work/run.tsv"
        if [ $run = 1 ]; then cp "$work/run.tsv" "$table"; else tail -n +2 "$work/run.tsv" >> "$table"; fi
      done
      /usr/bin/python3 "$here/scipy_bench.py" --no-header --known "$known" < "$table"
      tail -n +2 "$table" >> "$known"
    done
  done
fi
