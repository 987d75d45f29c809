#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Does nothing when every package is already there; needs root otherwise.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libfftw3-dev libopenblas-openmp-dev libffi-dev
  libgtest-dev libbenchmark-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-scipy python3-matplotlib
  libsleef-dev liblapacke-dev libboost-math-dev python3-mpmath python3-skimage python3-hyperspy
  python3-dask python3-distributed python3-tqdm python3-zarr  # data larger than memory, progress bars
  dpkg-dev file  # the Debian package: dpkg-shlibdeps computes its Depends, CPack finds ELF files with file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these Debian packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
