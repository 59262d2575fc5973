#!/usr/bin/env bash
# Runs the serial-port tests under Wine against a pseudo-terminal owned by pty_driver.py.
#
#   tests/win/run_serial_tests.sh path/to/win_serial_tests.exe [gtest arguments...]
#
# WINEPREFIX is used when set (its wineserver is restarted to take the port mapping; see
# serial_pty_env.sh), otherwise a throwaway prefix is made. CORVA_SERIAL_TIMEOUT bounds the
# test run in seconds (default 300). The exit status is the test program's.
set -euo pipefail

if (($# < 1)); then
  echo "usage: $0 path/to/win_serial_tests.exe [gtest arguments...]" >&2
  exit 2
fi
exe=$(realpath "$1")
shift
[[ -f $exe ]] || {
  echo "no such test program: $exe" >&2
  exit 2
}

# shellcheck source=tests/win/serial_pty_env.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/serial_pty_env.sh"
serial_pty_setup

status=0
serial_pty_run "${CORVA_SERIAL_TIMEOUT:-300}" wine "$exe" \
  --com="$SERIAL_COM" --driver="$SERIAL_DRIVER" \
  --null-com="$SERIAL_NULL_COM" --missing-com="$SERIAL_MISSING_COM" "$@" || status=$?
if ((status == 124 || status == 137)); then
  serial_pty_log "the test program ran out of time"
fi
exit "$status"
