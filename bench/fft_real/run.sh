#!/usr/bin/env bash
# Real-image spectra, axis transforms and layout conversions against raw FFTW,
# scipy.fft, numpy and memcpy, one table.
# Usage: bench/fft_real/run.sh [build-dir] [case ...]   (default build dir: build)
# Builds nothing: run `cmake --build --preset release` first. Measured plans
# are kept in <build-dir>/bench-cache, so a second run starts settled.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
shift || true
[ -d "$build/python/lumadex" ] || { echo "run.sh: $build/python/lumadex is missing; build the release preset first" >&2; exit 1; }
mkdir -p "$build/bench-cache"
XDG_CACHE_HOME="$build/bench-cache" PYTHONPATH="$build/python" /usr/bin/python3 "$here/real_bench.py" "$@"
