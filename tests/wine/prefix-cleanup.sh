#!/usr/bin/env bash
# Ends what prefix-setup.sh started for a test run: every Windows process of the prefix with its
# wine server, and the run's Xvfb. The prefix stays for a look afterwards.
#
#   tests/wine/prefix-cleanup.sh BUILD_DIR
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
wine_dir="$(cd "$1" 2>/dev/null && pwd)/wine"
status=0

if [ -d "$wine_dir/prefix" ]; then
  export WINEPREFIX="$wine_dir/prefix"
  timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1
  if ! timeout -k 5 30 wineserver -w </dev/null >/dev/null 2>&1; then
    echo "prefix-cleanup: the wine server of $WINEPREFIX did not stop" >&2
    status=1
  fi
fi

# Only the Xvfb this run started, found by the pid it left, and only if that pid still is Xvfb.
if [ -s "$wine_dir/xvfb.pid" ]; then
  pid=$(cat "$wine_dir/xvfb.pid")
  if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -9 "$pid" 2>/dev/null
      echo "prefix-cleanup: Xvfb $pid needed SIGKILL" >&2
    fi
  fi
  rm -f "$wine_dir/xvfb.pid"
fi
echo "prefix-cleanup: done (prefix kept in $wine_dir/prefix)"
exit $status
