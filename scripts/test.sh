#!/usr/bin/env bash
# Set-up, build and every test: the C++ and Python tests under
# AddressSanitizer and UndefinedBehaviorSanitizer (the Python suite against
# the instrumented plug-in and host, tests/python/CMakeLists.txt), then the
# release build's C++ and Python tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# The FFT layer keeps measured plans in a cache folder; tests get their own,
# so that a run starts from what the build tree holds, not from the user's.
export XDG_CACHE_HOME="$PWD/build/test-cache"

for preset in release asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset asan -j2
ctest --preset release -j2

# The Debian package: built, installed with apt-get, used from an empty folder
# with a clean environment, purged (skipped when not root).
bash scripts/package_smoke.sh
