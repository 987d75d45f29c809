#!/usr/bin/env bash
# The Debian package as a user meets it: built from the release tree,
# installed with apt-get, used from an empty folder with a clean environment
# (no PYTHONPATH, not in the checkout): the Python host face, a DM file saved
# and read back, the tools, and a C++ program configured with
# find_package(Lumadex); then purged, leaving nothing of it behind.
# Needs root (apt-get); run after the release build (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "package smoke: SKIPPED: installing a Debian package needs root"
  exit 0
fi
if dpkg-query -W -f='${Status}' lumadex 2>/dev/null | grep -q 'installed'; then
  echo "package smoke: a lumadex package is installed already; remove it first (apt-get purge lumadex)" >&2
  exit 1
fi
start=$SECONDS
trap 'echo "package smoke: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
log=$(mktemp /tmp/lumadex-smoke-log.XXXXXX)
quiet() { "$@" >"$log" 2>&1 || { local status=$?; cat "$log" >&2; return "$status"; }; }

if [ ! -f build/CMakeCache.txt ]; then
  echo "package smoke: no release build (cmake --preset release && cmake --build --preset release)" >&2
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=$source_dir/build/lumadex_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
quiet cmake --build --preset release --target package
[ -f "$deb" ] || { echo "package smoke: cpack made no $deb" >&2; exit 1; }
echo "package smoke: $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"

work=$(mktemp -d /tmp/lumadex-smoke.XXXXXX)
chmod 755 "$work"
installed=0
finish() {
  local status=$?
  if [ "$installed" = 1 ]; then
    apt-get purge -y -qq lumadex >/dev/null 2>&1 || true
  fi
  rm -rf "$work" "$log"
  exit "$status"
}
trap finish EXIT

export DEBIAN_FRONTEND=noninteractive
quiet apt-get install -y -q "$deb"
installed=1
dpkg -L lumadex >"$work/files"

# From here on, the installed package only: an empty folder, a clean environment.
mkdir "$work/home"
cp -r tests/package/consumer tests/package/smoke.py "$work/home/"
cd "$work/home"
clean() { env -i PATH=/usr/bin:/bin HOME="$work/home" "$@"; }
plugin_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/lumadex

clean /usr/bin/python3 smoke.py "$version" "$plugin_dir"

[ "$(clean lumadex-dm --version)" = "lumadex-dm $version" ]
[ "$(clean lumadex-tour --version)" = "lumadex-tour $version" ]
[[ "$(clean lumadex-dm --help)" == "usage: lumadex-dm "* ]]
status=0; clean lumadex-dm --no-such-option >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || { echo "package smoke: lumadex-dm --no-such-option: exit status $status, not 2" >&2; exit 1; }
[[ "$(clean lumadex-dm noise.dm4)" == *'image 0: "noise", Complex 8, 48 x 32'* ]]
[[ "$(clean lumadex-tour)" == *"loaded: $plugin_dir/ZEP32.so"* ]]
[ "$(clean pkg-config --modversion lumadex)" = "$version" ]
echo "tools: lumadex-dm and lumadex-tour $version; lumadex-dm reads noise.dm4; lumadex-tour loads $plugin_dir/ZEP32.so"

quiet clean cmake -S consumer -B consumer/build -G Ninja -DCMAKE_BUILD_TYPE=Release
quiet clean cmake --build consumer/build
clean consumer/build/consumer
# The same program built with pkg-config's flags.
quiet clean sh -c 'g++ -std=c++20 -O1 consumer/main.cpp -o consumer-pc $(pkg-config --cflags --libs lumadex) \
  -DLUMADEX_PLUGIN="\"$(pkg-config --variable=plugin lumadex)\"" -DEXPECTED_VERSION="\"$(pkg-config --modversion lumadex)\""'
clean ./consumer-pc | sed 's/^consumer:/consumer (pkg-config):/'

cd "$source_dir"
quiet apt-get purge -y -q lumadex
installed=0
# Nothing of the package is left: none of its files, none of its folders
# (shared ones such as /usr/bin stay), no byte code in dist-packages.
left=()
while IFS= read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  [ -d "$path" ] && [[ "$path" != *[Ll]umadex* ]] && continue
  left+=("$path")
done <"$work/files"
if [ -e /usr/lib/python3/dist-packages/lumadex ]; then left+=(/usr/lib/python3/dist-packages/lumadex); fi
if [ ${#left[@]} -gt 0 ]; then
  echo "package smoke: left behind after purge: ${left[*]}" >&2
  exit 1
fi
echo "package smoke: passed in $((SECONDS - start)) s (installed, used from $work, purged, nothing left)"
