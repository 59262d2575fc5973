#!/usr/bin/env bash
# The serial turn-off sequence against upssim on COM1:
#   tests/win/run_turnoff_test.sh UPSSIM TURNOFF_TESTS_EXE
# Run through tests/wine/run.sh --linux (the run's prefix and display are in the environment).
# Passes when the test program passes and the simulator received "%" and then 5, 1.2 s apart.
set -euo pipefail
upssim=$1
exe=$2
work=$(mktemp -d /tmp/corva-turnoff.XXXXXX)
sim_pid=
cleanup() {
  local status=$?
  set +e
  exec 3>&-
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  corva_unmap_com COM1 >/dev/null 2>&1
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
. "$(dirname "$0")/../wine/env.sh" "$CORVA_BUILD_DIR"

# The simulator sends nothing and listens; its stdin, a pipe this script holds open, ends with it.
mkfifo "$work/in"
"$upssim" --scenario - --log "$work/ups.log" --quiet <"$work/in" >"$work/ups.out" 2>&1 &
sim_pid=$!
exec 3>"$work/in"
for _ in $(seq 100); do
  grep -q '^PTY ' "$work/ups.out" 2>/dev/null && break
  sleep 0.1
done
pty=$(sed -n 's/^PTY //p' "$work/ups.out")
[ -n "$pty" ] || { echo "upssim did not start"; cat "$work/ups.out"; exit 1; }
corva_map_com COM1 "$pty"

corva_wine "$exe"

echo "--- what the UPS received"
grep -E '^(RX|CMD)' "$work/ups.log" || true
line=$(grep -E '^CMD [0-9]+ TURN-OFF "%" \+ m=5 \(gap [0-9]+ ms\)' "$work/ups.log" | head -1)
[ -n "$line" ] || { echo "no turn-off command with 5 minutes reached the UPS"; exit 1; }
gap=$(sed -E 's/.*\(gap ([0-9]+) ms\).*/\1/' <<<"$line")
if [ "$gap" -lt 1150 ] || [ "$gap" -gt 1800 ]; then
  echo "the minutes byte came $gap ms after '%', not about 1200 ms"
  exit 1
fi
# Nothing else went to the UPS.
others=$(grep -cE '^RX ' "$work/ups.log" || true)
[ "$others" -eq 2 ] || { echo "the UPS received $others bytes, not 2"; exit 1; }
echo "turn-off: '%' then 5, $gap ms apart"
