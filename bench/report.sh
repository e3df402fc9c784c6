#!/usr/bin/env bash
# What --report costs: runs the release build on one generated problem (default the
# large one, 200,000 records x 60 variables x 20 factors) for N passes (default 10),
# once without and once with --report, and prints both wall times, the extra time
# in percent, the time --timing gives the report phase, and the size of
# report.html and of the whole report folder.
#
# Usage: bench/report.sh [records variables factors seed [passes]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
nrec=${1:-200000} nvar=${2:-60} nfakt=${3:-20} seed=${4:-2} passes=${5:-10}
TARNOK_NEED_BENCH=1 "$root/scripts/setup.sh"
build="$root/build/release"
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
cmake --build "$build" -j 2 --target tarnok make_data >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
"$build/bench/make_data" "$nrec" "$nvar" "$nfakt" "$seed" "$work/in" >/dev/null
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Both runs write the same result path, so that their consoles (which echo it) compare.
run() {
  local label=$1
  shift
  local start end
  start=$EPOCHREALTIME
  "$build/tarnok" --timing --passes "$passes" "$@" n "$work/in/profile.tsv" "$work/in/form.tsv" "$work/in/data.tsv" \
    "$work/result.tsv" </dev/null >"$work/console_$label.txt" 2>"$work/timing_$label.txt"
  end=$EPOCHREALTIME
  mv "$work/result.tsv" "$work/result_$label.tsv"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}
plain=$(run plain)
reported=$(run report --report "$work/report")
echo "problem: $nrec x $nvar x $nfakt, $passes passes"
echo "wall s without --report: $plain"
echo "wall s with --report:    $reported"
for label in plain report; do
  awk -v l="$label" '$2 != "pass" { printf "%s %s s: %s\n", l, $2, $3 }' "$work/timing_$label.txt"
done
cmp -s "$work/result_plain.tsv" "$work/result_report.tsv" || { echo "result tables differ" >&2; exit 1; }
cmp -s "$work/console_plain.txt" "$work/console_report.txt" || { echo "consoles differ" >&2; exit 1; }
awk -v a="$plain" -v b="$reported" 'BEGIN { printf "extra: %.1f %%\n", (b - a) / a * 100 }'
awk '$2 == "report" { printf "report phase (--timing) s: %s\n", $3 }' "$work/timing_report.txt"
echo "report.html bytes: $(stat -c %s "$work/report/report.html")"
echo "report folder: $(du -sh "$work/report" | cut -f1), $(ls "$work/report/figures" | wc -l) figures"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
