#!/usr/bin/env bash
# Makes the Wine prefix and the X display for one test run:
#
#   tests/wine/prefix-setup.sh BUILD_DIR
#
# BUILD_DIR/wine/prefix   a fresh 64-bit prefix (an old one is deleted), booted, with nothing
#                         left in it that could stop a test to ask something
# BUILD_DIR/wine/display  the X display everything of this run uses
# BUILD_DIR/wine/xvfb.pid the Xvfb started for the run (absent when an existing display is used)
#
# Leaves a persistent wine server and Wine's resident services running; prefix-cleanup.sh ends
# them. With CORVA_USE_DISPLAY=1 the current $DISPLAY is used instead of a new Xvfb;
# CORVA_XVFB_SCREEN sets the new Xvfb's screen (default 1280x800x24).
# On failure everything started here is stopped again.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$1"
build_dir=$(cd "$1" && pwd)
wine_dir="$build_dir/wine"
mkdir -p "$wine_dir"

# A previous run that was not cleaned up: end its server and its Xvfb before taking their place.
"$here/prefix-cleanup.sh" "$build_dir" >/dev/null 2>&1 || true
rm -rf "$wine_dir/prefix" "$wine_dir/display" "$wine_dir/xvfb.pid"
: >"$wine_dir/wine.log"

started_xvfb=
ok=
finish() {
  if [ -z "$ok" ]; then
    echo "prefix-setup: failed; the end of $wine_dir/wine.log:" >&2
    tail -n 30 "$wine_dir/wine.log" >&2 || true
    WINEPREFIX="$wine_dir/prefix" timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -n "$started_xvfb" ]; then
      kill "$started_xvfb" 2>/dev/null || true
      rm -f "$wine_dir/xvfb.pid"
    fi
  fi
}
trap finish EXIT

now_ms() { date +%s%3N; }
t0=$(now_ms)

# ---- the display
if [ "${CORVA_USE_DISPLAY:-0}" = 1 ]; then
  if [ -z "${DISPLAY:-}" ]; then
    echo "prefix-setup: CORVA_USE_DISPLAY=1 but DISPLAY is not set" >&2
    exit 1
  fi
  echo "$DISPLAY" >"$wine_dir/display"
  echo "prefix-setup: using the display $DISPLAY"
else
  # -displayfd: Xvfb picks a free display number itself and writes it once it takes clients,
  # so runs side by side never fight over a number.
  : >"$wine_dir/xvfb.displayfd"
  Xvfb -displayfd 3 -screen 0 "${CORVA_XVFB_SCREEN:-1280x800x24}" -nolisten tcp -noreset \
    3>"$wine_dir/xvfb.displayfd" </dev/null >"$wine_dir/xvfb.log" 2>&1 &
  started_xvfb=$!
  echo "$started_xvfb" >"$wine_dir/xvfb.pid"
  for _ in $(seq 1 200); do
    [ -s "$wine_dir/xvfb.displayfd" ] && break
    if ! kill -0 "$started_xvfb" 2>/dev/null; then
      echo "prefix-setup: Xvfb quit:" >&2
      cat "$wine_dir/xvfb.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [ ! -s "$wine_dir/xvfb.displayfd" ]; then
    echo "prefix-setup: Xvfb gave no display within 20 s" >&2
    exit 1
  fi
  echo ":$(head -n 1 "$wine_dir/xvfb.displayfd" | tr -d '[:space:]')" >"$wine_dir/display"
  echo "prefix-setup: Xvfb (pid $started_xvfb) on $(cat "$wine_dir/display")"
fi

# shellcheck source=tests/wine/env.sh
. "$here/env.sh" "$build_dir"

# ---- the prefix
t1=$(now_ms)
if ! timeout -k 5 300 wineboot -i </dev/null >>"$CORVA_WINE_LOG" 2>&1; then
  echo "prefix-setup: wineboot -i failed" >&2
  exit 1
fi
t2=$(now_ms)

# Nothing may stop a test to ask something: no crash dialog (a crash only writes its backtrace
# to the program's stderr), no Mono or Gecko installer, no menu entries, no sound device to wait
# for (the tests listen to nothing). Windows are not handed to a window manager: with none
# running on Xvfb, Wine would wait about 2 s each time a managed window is hidden.
cat >"$wine_dir/quiet.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"mscoree"=""
"mshtml"=""
"winemenubuilder.exe"=""

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"=""

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
EOF
# Z: is the Linux root; no winepath here, its output would have to come through a pipe.
if ! corva_wine_quiet reg import "Z:${wine_dir//\//\\}\\quiet.reg"; then
  echo "prefix-setup: reg import failed" >&2
  exit 1
fi
if ! corva_wine_quiet reg query 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog; then
  echo "prefix-setup: the crash dialog setting did not stick" >&2
  exit 1
fi

# From here on one persistent server for the whole run; the first program of it runs with its
# stdio on the log so that the resident services it leaves hold no pipe of anybody's.
timeout -k 5 30 wineserver -k </dev/null >>"$CORVA_WINE_LOG" 2>&1 || true
timeout -k 5 30 wineserver -w </dev/null >>"$CORVA_WINE_LOG" 2>&1 || true
# The server writes the registry out when it stops.
if ! grep -q ShowCrashDialog "$WINEPREFIX/user.reg" 2>/dev/null; then
  echo "prefix-setup: no registry with our settings in $WINEPREFIX" >&2
  exit 1
fi
t3=$(now_ms)
corva_wine_warm
t4=$(now_ms)

ok=1
echo "prefix-setup: prefix $WINEPREFIX ready (display $((t1 - t0)) ms, wineboot $((t2 - t1)) ms," \
  "settings $((t3 - t2)) ms, server start $((t4 - t3)) ms)"
