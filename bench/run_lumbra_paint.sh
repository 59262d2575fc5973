#!/usr/bin/env bash
# Runs the ImageBtn repaint benchmark under Wine and prints its figures.
#
#   bench/run_lumbra_paint.sh [build/x86_64] [--rounds=N]
#
# WINEPREFIX is used when set, otherwise a throwaway prefix is made; without DISPLAY a private
# Xvfb display is used.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/x86_64}
[[ $# -gt 0 ]] && shift
exe=$build/bench/lumbra_paint.exe
ocx=$build/imagebtn/win32/lumbra.ocx
for f in "$exe" "$ocx"; do
  [[ -f $f ]] || {
    echo "no such file: $f (build the x86_64 tree first)" >&2
    exit 2
  }
done

export WINEDEBUG=-all WINEARCH=win64
if [[ -z ${WINEPREFIX:-} ]]; then
  WINEPREFIX=$(mktemp -d /tmp/lumbra-bench.XXXXXX)
  export WINEPREFIX
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
  wineboot -i >/dev/null 2>&1
fi
run=(wine "$exe" "$(winepath -w "$ocx")" "$@")
if [[ -z ${DISPLAY:-} ]]; then
  xvfb-run -a "${run[@]}"
else
  "${run[@]}"
fi
