#!/usr/bin/env bash
# Measures the serial receive latency and the idle cost of an open port under Wine, against a
# pseudo-terminal owned by tests/win/pty_driver.py.
#
#   bench/run_serial_latency.sh path/to/serial_latency.exe [--samples=N] [--idle-seconds=S]
#
# WINEPREFIX is used when set (its wineserver is restarted to take the port mapping; see
# tests/win/serial_pty_env.sh), otherwise a throwaway prefix is made.
set -euo pipefail

if (($# < 1)); then
  echo "usage: $0 path/to/serial_latency.exe [--samples=N] [--idle-seconds=S]" >&2
  exit 2
fi
exe=$(realpath "$1")
shift
[[ -f $exe ]] || {
  echo "no such program: $exe" >&2
  exit 2
}

# shellcheck source=tests/win/serial_pty_env.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../tests/win/serial_pty_env.sh"
serial_pty_setup

serial_pty_run "${CORVA_SERIAL_TIMEOUT:-600}" wine "$exe" \
  --com="$SERIAL_COM" --driver="$SERIAL_DRIVER" "$@"
