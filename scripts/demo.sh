#!/usr/bin/env bash
# Set-up, build, and the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [ -f examples/demo.py ] && [ -d build/python/lumadex ]; then
  PYTHONPATH=build/python /usr/bin/python3 examples/demo.py "$@"
  # The day's real work: drift correction of a low-dose series, against scikit-image.
  PYTHONPATH=build/python /usr/bin/python3 examples/drift_correction.py "$@"
  # The same on a series larger than its workers' memory, on a dask cluster of two worker processes.
  PYTHONPATH=build/python /usr/bin/python3 examples/out_of_core.py "$@"
else
  ./build/host/lumadex-tour build/plugin/ZEP32.so
fi
