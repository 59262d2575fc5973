#!/usr/bin/env bash
# The serial link across a sleep of the computer:
#   tests/win/run_resume_test.sh UPSSIM RESUME_TESTS_EXE
# Run through tests/wine/run.sh --linux (the run's prefix and display are in the environment).
# COM1 points at a link of this script's, which points at the simulator's pseudo-terminal. Once
# the test program has had the sleep notice, the simulator ends (its terminal is gone, as a
# device is after a sleep) and a new one starts on a new terminal, which the link then points to.
set -euo pipefail
upssim=$1
exe=$2
work=$(mktemp -d /tmp/corva-resume.XXXXXX)
sim_pid=
test_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$test_pid" ] && kill "$test_pid" 2>/dev/null && wait "$test_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  corva_unmap_com COM1 >/dev/null 2>&1
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
. "$(dirname "$0")/../wine/env.sh" "$CORVA_BUILD_DIR"

# A simulator sending line-power frames five times a second; prints its terminal.
start_simulator() {
  "$upssim" --interval 200 --log "$work/ups$1.log" --quiet --exit-after 150000 \
    </dev/null >"$work/ups$1.out" 2>&1 &
  sim_pid=$!
  local _
  for _ in $(seq 100); do
    grep -q '^PTY ' "$work/ups$1.out" 2>/dev/null && break
    sleep 0.1
  done
  local pty
  pty=$(sed -n 's/^PTY //p' "$work/ups$1.out")
  [ -n "$pty" ] || { echo "upssim did not start"; cat "$work/ups$1.out"; return 1; }
  ln -sfn "$pty" "$work/tty"
  echo "simulator $1 on $pty"
}

windows_path() { echo "Z:${1//\//\\}"; }

start_simulator 1
corva_map_com COM1 "$work/tty"

corva_wine "$exe" --asleep "$(windows_path "$work/asleep")" \
  --swapped "$(windows_path "$work/swapped")" &
test_pid=$!
for _ in $(seq 600); do
  [ -e "$work/asleep" ] && break
  kill -0 "$test_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -e "$work/asleep" ]; then
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  start_simulator 2
  touch "$work/swapped"
fi
status=0
wait "$test_pid" || status=$?
test_pid=
exit "$status"
