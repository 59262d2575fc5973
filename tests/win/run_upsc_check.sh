#!/usr/bin/env bash
# Debian's own NUT client against the server under Wine:
#   tests/win/run_upsc_check.sh NUT_SERVER_TESTS_EXE
# Run through tests/wine/run.sh --linux (the run's prefix is in the environment). The test program
# serves a fixed snapshot on a free port; upsc must list the UPS and read its variables.
set -euo pipefail
exe=$1
work=$(mktemp -d /tmp/corva-upsc.XXXXXX)
server_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
. "$(dirname "$0")/../wine/env.sh" "$CORVA_BUILD_DIR"
command -v upsc >/dev/null || { echo "upsc is missing (scripts/deps installs nut-client)"; exit 1; }

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
corva_wine "$exe" --serve "$port" </dev/null >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 300); do
  grep -q '^listening' "$work/server.out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.out"; exit 1; }
  sleep 0.1
done
grep -q '^listening' "$work/server.out" || { echo "the server did not start"; cat "$work/server.out"; exit 1; }

fail() {
  echo "$1"
  cat "$work/upsc.err"
  exit 1
}
# upsc writes notes ("Init SSL without certificate database") to stderr: keep them apart.
listed=$(upsc -l "127.0.0.1:$port" 2>"$work/upsc.err") || fail "upsc -l failed: $listed"
[ "$listed" = ups ] || fail "upsc -l listed: $listed"
all=$(upsc "ups@127.0.0.1:$port" 2>"$work/upsc.err") || fail "upsc failed: $all"
echo "$all"
for expected in 'ups.status: OL' 'battery.charge: 66.67' 'battery.charge.low: 30' \
  'output.voltage: 221.0' 'output.frequency: 50.0' 'ups.beeper.status: enabled' \
  'ups.delay.shutdown: 120' 'ups.timer.shutdown: -1' 'device.type: ups' 'driver.name: corvamon'; do
  grep -qxF "$expected" <<<"$all" || fail "upsc did not show \"$expected\""
done
one=$(upsc "ups@127.0.0.1:$port" ups.status 2>"$work/upsc.err")
[ "$one" = OL ] || fail "upsc ups.status answered: $one"
unknown=$(upsc "nada@127.0.0.1:$port" 2>&1 || true)
grep -q 'Unknown UPS' <<<"$unknown" || fail "an unknown UPS answered: $unknown"
echo "upsc: the UPS is listed and its variables read"
