#!/usr/bin/env bash
# The plug-in exports its six entry points and the library entry points in
# namespace zep, the warp kernels of the global namespace, and nothing else.
set -euo pipefail
plugin="$1"
unexpected=$(nm -D --defined-only "$plugin" | awk '{print $3}' | c++filt |
  grep -v -E '^(DMPlugIn_GetVersion|DMPlugIn_Link_2|PlugInStartup|PlugInRun|PlugInCleanup|PlugInShutdown)$' |
  grep -v -E '^(ilog2_floor_asm_x86|ifloor_pow2_asm_x86)\(int\)$' |
  grep -v -E '^(zep::|tarn::dm::image<.*>& zep::|.* zep::)' |
  grep -v -E '^(tarn::dm::image<.*>& )?(LinearWarp(X|Y|Z|XY)?(Complex<(float|double)>)?|AffineWarp<(float|double)>)\(' || true)
# The listing is read once: grep -q on a pipe would stop nm early (SIGPIPE under pipefail).
symbols=$(nm -D --defined-only "$plugin")
for entry in DMPlugIn_GetVersion DMPlugIn_Link_2 PlugInStartup PlugInRun PlugInCleanup PlugInShutdown; do
  grep -q " $entry\$" <<<"$symbols" || { echo "missing export: $entry"; exit 1; }
done
exported=$(nm -D --defined-only "$plugin" | c++filt)
for entry in 'zep::PureFFT<float>(' 'zep::PureFFT<double>(' 'zep::PureIFFT<float>(' 'zep::PureIFFT<double>(' \
             'zep::DLLTraceAddCounter(char const*, long)' 'zep::GetVersionDM()' 'zep::GetMKLVersionDM()' \
             'ilog2_floor_asm_x86(int)' 'ifloor_pow2_asm_x86(int)' 'LinearWarpXY(' 'LinearWarpZComplex<double>(' \
             'AffineWarp<float>(' 'AffineWarp<double>('; do
  grep -qF "$entry" <<<"$exported" || { echo "missing export: $entry"; exit 1; }
done
if [ -n "$unexpected" ]; then
  echo "unexpected exports:"; echo "$unexpected"; exit 1
fi
echo "exports ok"
