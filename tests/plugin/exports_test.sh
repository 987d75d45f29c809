#!/usr/bin/env bash
# The plug-in exports its six entry points and the library entry points in
# namespace zep, and nothing else.
set -euo pipefail
plugin="$1"
unexpected=$(nm -D --defined-only "$plugin" | awk '{print $3}' | c++filt |
  grep -v -E '^(DMPlugIn_GetVersion|DMPlugIn_Link_2|PlugInStartup|PlugInRun|PlugInCleanup|PlugInShutdown)$' |
  grep -v -E '^(zep::|tarn::dm::image<.*>& zep::|.* zep::)' || true)
# One listing, searched from a variable: `grep -q` leaving a pipe early would
# fail the listing with SIGPIPE under pipefail.
symbols=$(nm -D --defined-only "$plugin")
for entry in DMPlugIn_GetVersion DMPlugIn_Link_2 PlugInStartup PlugInRun PlugInCleanup PlugInShutdown; do
  grep -q " $entry\$" <<<"$symbols" || { echo "missing export: $entry"; exit 1; }
done
exported=$(nm -D --defined-only "$plugin" | c++filt)
for entry in 'zep::PureFFT<float>(' 'zep::PureFFT<double>(' 'zep::PureIFFT<float>(' 'zep::PureIFFT<double>(' \
             'zep::DLLTraceAddCounter(char const*, long)'; do
  grep -qF "$entry" <<<"$exported" || { echo "missing export: $entry"; exit 1; }
done
if [ -n "$unexpected" ]; then
  echo "unexpected exports:"; echo "$unexpected"; exit 1
fi
echo "exports ok"
