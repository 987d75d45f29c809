#!/usr/bin/env bash
# Real-image spectra, axis transforms and layout conversions against raw FFTW,
# scipy.fft, numpy and memcpy, one table.
# Usage: bench/fft_real/run.sh [build-dir] [case ...]   (default build dir: build)
# Builds nothing: run `cmake --build --preset release` first. Each run starts
# from an empty plan cache, so that wisdom measured by an earlier run (on a
# busier machine, or an older build) does not decide this run's plans.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
shift || true
[ -d "$build/python/lumadex" ] || { echo "run.sh: $build/python/lumadex is missing; build the release preset first" >&2; exit 1; }
cache="$(mktemp -d)"
trap 'rm -rf "$cache"' EXIT
XDG_CACHE_HOME="$cache" PYTHONPATH="$build/python" /usr/bin/python3 "$here/real_bench.py" "$@"
