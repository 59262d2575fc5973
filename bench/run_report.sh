#!/usr/bin/env bash
# Builds the power report from 13 months of generated history (about 570,000 minute rows in
# thirteen monthly files and Historial.csv, Spain's format) and prints the median time of seven
# builds and the page's size. Native, -O2 (the release tree).
#
#   bench/run_report.sh [build/linux-release]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/linux-release}
cmake -S "$root" -B "$build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target histgen report_build >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
end=2026-12-07T12:00:00-06:00
"$build/tools/histgen/histgen" --dir "$dir" --days 396 --end "$end" --monthly --format es
du -sh "$dir" | sed 's/\t.*/ de historial/'
"$build/bench/report_build" "$dir" --now "$end" --runs 7
