# shellcheck shell=bash
# Wine environment for the Windows tests, the end-to-end tests and the demo. Source it:
#
#   . tests/wine/env.sh BUILD_DIR        (or with CORVA_BUILD_DIR set in the environment)
#
# BUILD_DIR/wine holds the prefix and the X display that prefix-setup.sh made for this run.
# Exports WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES, LC_ALL and DISPLAY, and defines:
#
#   corva_wine ARGS...             wine with a time limit (CORVA_WINE_TIMEOUT s, default 120);
#                                  stdio as the caller gives it
#   corva_wine_quiet ARGS...       the same, stdio to the wine log (never a pipe of the caller's)
#   corva_wine_warm                makes sure the persistent server and Wine's resident services
#                                  run, started without the caller's stdio
#   corva_server_restart           stops every Windows process of the prefix and starts afresh
#   corva_map_com PORT DEVICE      COMn is the Linux device DEVICE from now on (PORT: 1 or COM1)
#   corva_unmap_com PORT           forgets the mapping; Wine goes back to its own guess
#   corva_com_target PORT          prints where COMn points now (empty when nowhere)
#   corva_set_dpi DPI              the screen's DPI from now on (96 = 100 %, 144, 192...): Wine's
#                                  LogPixels, read when its server starts, so the server restarts
#
# Never start the first Wine program of a session with its output captured by a pipe: the
# resident services it starts inherit its stdio and keep the pipe open, so whoever reads it
# waits forever. corva_wine_warm exists for that.
#
# Settings read from the environment:
#   CORVA_WINEDEBUG      WINEDEBUG for the programs (default -all)
#   CORVA_WINE_LOCALE    locale Wine runs under (default C.UTF-8: arguments and output in UTF-8,
#                        Windows code page 1252)
#   CORVA_WINE_TIMEOUT   time limit in seconds for one Wine command (default 120)

if [ -n "${1:-}" ]; then
  CORVA_BUILD_DIR=$1
fi
if [ -z "${CORVA_BUILD_DIR:-}" ]; then
  echo "env.sh: give the build folder: . tests/wine/env.sh BUILD_DIR" >&2
  # shellcheck disable=SC2317  # exit is for a file run instead of sourced
  return 2 2>/dev/null || exit 2
fi
CORVA_BUILD_DIR=$(cd "$CORVA_BUILD_DIR" 2>/dev/null && pwd || echo "$CORVA_BUILD_DIR")
export CORVA_BUILD_DIR
export CORVA_WINE_DIR="$CORVA_BUILD_DIR/wine"
export CORVA_WINE_LOG="$CORVA_WINE_DIR/wine.log"

export WINEPREFIX="$CORVA_WINE_DIR/prefix"
export WINEARCH=win64
export WINEDEBUG="${CORVA_WINEDEBUG:--all}"
# No Mono or Gecko install prompts, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL="${CORVA_WINE_LOCALE:-C.UTF-8}"
if [ -s "$CORVA_WINE_DIR/display" ]; then
  DISPLAY=$(cat "$CORVA_WINE_DIR/display")
  export DISPLAY
fi

corva_wine() {
  timeout -k 5 "${CORVA_WINE_TIMEOUT:-120}" wine "$@"
}

corva_wine_quiet() {
  mkdir -p "$CORVA_WINE_DIR"
  timeout -k 5 "${CORVA_WINE_TIMEOUT:-120}" wine "$@" </dev/null >>"$CORVA_WINE_LOG" 2>&1
}

corva_wine_warm() {
  mkdir -p "$CORVA_WINE_DIR"
  # Answers 2 when a server already runs for this prefix: that is fine too.
  timeout -k 5 30 wineserver -p </dev/null >>"$CORVA_WINE_LOG" 2>&1 || true
  corva_wine_quiet cmd /c exit
}

corva_server_restart() {
  timeout -k 5 30 wineserver -k </dev/null >>"$CORVA_WINE_LOG" 2>&1 || true
  timeout -k 5 30 wineserver -w </dev/null >>"$CORVA_WINE_LOG" 2>&1 || true
  corva_wine_warm
}

# COM1, com1 and 1 all mean port 1.
corva_com_name() {
  local n=${1#[Cc][Oo][Mm]}
  case $n in
    '' | *[!0-9]*)
      echo "not a COM port: $1" >&2
      return 2
      ;;
  esac
  echo "COM$n"
}

corva_map_com() {
  if [ $# -ne 2 ]; then
    echo "usage: corva_map_com PORT DEVICE" >&2
    return 2
  fi
  local port
  port=$(corva_com_name "$1") || return 2
  corva_wine_quiet reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$2" /f || {
    echo "corva_map_com: reg add failed (see $CORVA_WINE_LOG)" >&2
    return 1
  }
  # Wine's mount manager makes the port links from the registry when the server starts.
  corva_server_restart
  local now
  now=$(corva_com_target "$port")
  if [ "$now" != "$2" ]; then
    echo "corva_map_com: $port points to '${now}', not '$2'" >&2
    return 1
  fi
}

corva_unmap_com() {
  if [ $# -ne 1 ]; then
    echo "usage: corva_unmap_com PORT" >&2
    return 2
  fi
  local port
  port=$(corva_com_name "$1") || return 2
  corva_wine_quiet reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f || true
  rm -f "$WINEPREFIX/dosdevices/${port,,}"
  corva_server_restart
}

corva_com_target() {
  local port
  port=$(corva_com_name "$1") || return 2
  readlink "$WINEPREFIX/dosdevices/${port,,}" 2>/dev/null || true
}

corva_set_dpi() {
  if [ $# -ne 1 ] || [[ ! $1 =~ ^[0-9]+$ ]]; then
    echo "usage: corva_set_dpi DPI" >&2
    return 2
  fi
  local key
  for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
    corva_wine_quiet reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f || {
      echo "corva_set_dpi: reg add $key failed (see $CORVA_WINE_LOG)" >&2
      return 1
    }
  done
  corva_server_restart
}
