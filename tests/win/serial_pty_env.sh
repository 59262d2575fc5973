# shellcheck shell=bash
# Shared by tests/win/run_serial_tests.sh and bench/run_serial_latency.sh (sourced, not run):
# a Wine prefix, the pty driver, and the COM port mappings the serial tests expect.
#
#   serial_pty_setup          sets WINEPREFIX, SERIAL_COM, SERIAL_NULL_COM, SERIAL_MISSING_COM,
#                             SERIAL_DRIVER (host:port) and SERIAL_PTS; registers the cleanup
#   serial_pty_run SECS ...   runs a command with a time limit (TERM, then KILL 10 s later)
#
# Environment:
#   WINEPREFIX              the prefix to use; unset: a throwaway prefix is made and removed
#   CORVA_SERIAL_COM        COM port given the pty (default 7)
#   CORVA_SERIAL_NULL_COM   COM port mapped to /dev/null (default 8)
#   CORVA_SERIAL_MAP        "registry" (default: HKLM\Software\Wine\Ports and a wineserver
#                           restart) or "symlink" (dosdevices links only, no restart: for a
#                           prefix other Wine programs are using at the same time)
#
# Mapping through the registry restarts the prefix's wineserver (wineserver -k), which ends every
# Wine program running in that prefix.

serial_pty_log() { echo "serial-pty: $*" >&2; }

serial_pty_run() {
  local seconds=$1
  shift
  timeout --kill-after=10 "$seconds" "$@"
}

serial_pty_cleanup() {
  local status=$?
  set +e
  if [[ -n ${SERIAL_DRIVER_PID:-} ]]; then
    kill "$SERIAL_DRIVER_PID" 2>/dev/null
    wait "$SERIAL_DRIVER_PID" 2>/dev/null
  fi
  if [[ -n ${SERIAL_OWN_PREFIX:-} ]]; then
    serial_pty_run 30 wineserver -k </dev/null >/dev/null 2>&1
    rm -rf "$SERIAL_OWN_PREFIX"
  elif [[ -n ${WINEPREFIX:-} && -n ${SERIAL_MAPPED:-} ]]; then
    # Leave the caller's prefix as it was: no mapping to a pty that is gone.
    local com
    for com in $SERIAL_MAPPED; do
      if [[ ${CORVA_SERIAL_MAP:-registry} == registry ]]; then
        serial_pty_run 60 wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$com" /f \
          </dev/null >/dev/null 2>&1
      fi
      rm -f "$WINEPREFIX/dosdevices/com$com"
    done
  fi
  [[ -n ${SERIAL_WORK:-} ]] && rm -rf "$SERIAL_WORK"
  return "$status"
}

# Points dosdevices/comN at the device: Wine reads these links whenever a port is opened.
serial_pty_link() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

serial_pty_setup() {
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  export WINEDEBUG=-all
  SERIAL_COM=${CORVA_SERIAL_COM:-7}
  SERIAL_NULL_COM=${CORVA_SERIAL_NULL_COM:-8}
  local map=${CORVA_SERIAL_MAP:-registry}
  SERIAL_WORK=$(mktemp -d /tmp/corva-serial.XXXXXX)
  trap serial_pty_cleanup EXIT
  trap 'exit 130' INT TERM

  if [[ -z ${WINEPREFIX:-} ]]; then
    SERIAL_OWN_PREFIX=$SERIAL_WORK/prefix
    export WINEPREFIX=$SERIAL_OWN_PREFIX
    serial_pty_log "making a Wine prefix in $WINEPREFIX"
    serial_pty_run 300 wineboot -i </dev/null >/dev/null 2>&1 || {
      serial_pty_log "wineboot failed"
      return 1
    }
    serial_pty_run 60 wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
  export WINEPREFIX
  mkdir -p "$WINEPREFIX/dosdevices"

  python3 "$here/pty_driver.py" --info "$SERIAL_WORK/driver.info" \
    --lifetime "${CORVA_SERIAL_DRIVER_LIFETIME:-900}" </dev/null &
  SERIAL_DRIVER_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    [[ -s $SERIAL_WORK/driver.info ]] && break
    kill -0 "$SERIAL_DRIVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [[ ! -s $SERIAL_WORK/driver.info ]]; then
    serial_pty_log "the pty driver did not start"
    return 1
  fi
  SERIAL_PTS=$(sed -n 's/^PTS=//p' "$SERIAL_WORK/driver.info")
  SERIAL_DRIVER=127.0.0.1:$(sed -n 's/^PORT=//p' "$SERIAL_WORK/driver.info")
  serial_pty_log "pty $SERIAL_PTS, driver at $SERIAL_DRIVER"

  SERIAL_MAPPED="$SERIAL_COM $SERIAL_NULL_COM"
  if [[ $map == registry ]]; then
    local com device
    for com in "$SERIAL_COM" "$SERIAL_NULL_COM"; do
      device=$SERIAL_PTS
      [[ $com == "$SERIAL_NULL_COM" ]] && device=/dev/null
      if ! serial_pty_run 60 wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /t REG_SZ \
        /d "$device" /f </dev/null >/dev/null 2>&1; then
        serial_pty_log "cannot write the COM$com mapping into the registry"
        return 1
      fi
    done
    # The mapping is read when the prefix starts: restart its server, then start it once (the
    # first program starts the services that turn the mapping into dosdevices links). Those
    # services live on with the first program's stdio, so it never gets the caller's.
    serial_pty_run 60 wineserver -k </dev/null >/dev/null 2>&1 || true
    serial_pty_run 60 wineserver -w </dev/null >/dev/null 2>&1 || true
    serial_pty_run 120 wine reg query 'HKLM\Software\Wine\Ports' </dev/null >/dev/null 2>&1 ||
      true
    if [[ $(readlink "$WINEPREFIX/dosdevices/com$SERIAL_COM") != "$SERIAL_PTS" ||
      $(readlink "$WINEPREFIX/dosdevices/com$SERIAL_NULL_COM") != /dev/null ]]; then
      serial_pty_log "the registry mapping did not show up in dosdevices; linking directly"
      serial_pty_link "$SERIAL_COM" "$SERIAL_PTS"
      serial_pty_link "$SERIAL_NULL_COM" /dev/null
    fi
  else
    serial_pty_link "$SERIAL_COM" "$SERIAL_PTS"
    serial_pty_link "$SERIAL_NULL_COM" /dev/null
    # Start the prefix (if it is not running) with stdio of its own, as above.
    serial_pty_run 120 wine reg query 'HKLM\Software\Wine\Ports' </dev/null >/dev/null 2>&1 ||
      true
  fi

  # A port with nothing behind it: no dosdevices link and no host device it could fall back to.
  SERIAL_MISSING_COM=
  local n
  for ((n = 9; n < 256; n++)); do
    if [[ $n != "$SERIAL_COM" && $n != "$SERIAL_NULL_COM" && ! -e $WINEPREFIX/dosdevices/com$n &&
      ! -L $WINEPREFIX/dosdevices/com$n && ! -e /dev/ttyS$((n - 1)) ]]; then
      SERIAL_MISSING_COM=$n
      break
    fi
  done
  if [[ -z $SERIAL_MISSING_COM ]]; then
    serial_pty_log "no free COM number for the missing-device case"
    return 1
  fi
  serial_pty_log "COM$SERIAL_COM -> $SERIAL_PTS, COM$SERIAL_NULL_COM -> /dev/null," \
    "COM$SERIAL_MISSING_COM -> nothing ($map)"
}
