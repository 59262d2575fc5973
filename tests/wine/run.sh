#!/usr/bin/env bash
# Runs one Windows test program under the run's Wine prefix and passes on its exit code:
#
#   tests/wine/run.sh BUILD_DIR EXE [ARGS...]
#   tests/wine/run.sh BUILD_DIR --linux COMMAND [ARGS...]
#
# BUILD_DIR is the folder prefix-setup.sh prepared. The second form runs a Linux command (a
# script that drives Wine itself) with the run's Wine environment exported (see env.sh).
# The output is kept in a file while the program runs and printed when it ends, so nothing Wine
# leaves behind can hold the caller's pipe. Time limit: CORVA_RUN_TIMEOUT seconds (default
# 300); past it the program is killed and the exit code is 124.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR EXE [ARGS...] | $0 BUILD_DIR --linux COMMAND [ARGS...]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=$1
shift
linux=
if [ "$1" = --linux ]; then
  linux=1
  shift
  [ $# -ge 1 ] || {
    echo "run.sh: --linux needs a command" >&2
    exit 2
  }
fi
exe=$1
shift

if [ -z "$linux" ]; then
  if [ ! -f "$exe" ]; then
    echo "run.sh: no such program: $exe (was the Windows build built?)" >&2
    exit 1
  fi
  # The program runs in its own folder.
  exe=$(realpath "$exe")
fi
if [ ! -d "$build_dir/wine/prefix" ]; then
  echo "run.sh: no Wine prefix in $build_dir/wine (run tests/wine/prefix-setup.sh first)" >&2
  exit 1
fi
# shellcheck source=tests/wine/env.sh
. "$here/env.sh" "$build_dir"
corva_wine_warm

out=$(mktemp "$CORVA_WINE_DIR/run.XXXXXX")
trap 'rm -f "$out"' EXIT
limit=${CORVA_RUN_TIMEOUT:-300}
if [ -n "$linux" ]; then
  timeout -k 5 "$limit" "$exe" "$@" </dev/null >"$out" 2>&1
else
  (cd "$(dirname "$exe")" && timeout -k 5 "$limit" wine "$exe" "$@" </dev/null >"$out" 2>&1)
fi
rc=$?
cat "$out"
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "run.sh: $(basename "$exe") killed after ${limit} s" >&2
  rc=124
fi
exit $rc
