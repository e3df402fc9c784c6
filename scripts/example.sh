#!/usr/bin/env bash
# Builds tarnok and fits the bundled St. Louis example; the result table is
# written to result.tsv and the report to report/ in the current folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target tarnok
ex="$root/examples/st_louis"
"$root/build/release/tarnok" --passes "${PASSES:-300}" --report report --total Mass n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" result.tsv
echo "Result table written to $(pwd)/result.tsv"
echo "Report written to $(pwd)/report/report.html"
