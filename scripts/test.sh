#!/usr/bin/env bash
# Set-up, build and every test: the release build (C++ and Python tests), then
# the C++ tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for preset in release asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset asan -j2
ctest --preset release -j2
