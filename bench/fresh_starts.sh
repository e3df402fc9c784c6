#!/usr/bin/env bash
# Fresh starts against perturbed starts: for each data set, `tarnok prepare` (seed 1)
# and then the fit with --starts N and with --fresh-starts N (both --converge 1e-5
# --passes 5000 --seed 1). Reported per run: wall time, the best chi2, how many
# starts reproduced the best start (chi2 within 0.1 %, every factor at r >= 0.9)
# and the stability line with the spread of the factor shares.
#
# Data: the bundled measured St. Louis (7 factors, shares of Mass) and Baltimore
# (8 factors, shares of PM2.5, OM left out) files, and a synthetic table of
# 307 samples x 41 species x 4 sources (bench/make_measured, data seed 3; shares of
# all species).
#
# Usage: bench/fresh_starts.sh [N]        (default 20 starts)
# Environment: BIN (folder of a release build holding tarnok and bench/make_measured;
# default: build it in build/release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-20}
if [ -z "${BIN:-}" ]; then
  cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
  cmake --build "$root/build/release" -j 2 --target tarnok make_measured >/dev/null
  BIN="$root/build/release"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # name factors total(- for none) conc unc [prepare options...]
  local name=$1 k=$2 total=$3 conc=$4 unc=$5
  shift 5
  local out="$work/$name" totals=()
  [ "$total" = - ] || totals=(--total "$total")
  "$BIN/tarnok" prepare --seed 1 --factors "$k" "${totals[@]}" --uncertainties "$unc" "$@" "$conc" "$out" >/dev/null
  for kind in starts fresh-starts; do
    local rep="$out/report-$kind" start end
    start=$(date +%s.%N)
    "$BIN/tarnok" --"$kind" "$count" --seed 1 --converge 1e-5 --passes 5000 --report "$rep" "${totals[@]}" \
      n "$out/profile.tsv" "$out/form.tsv" "$out/data.tsv" "$out/result-$kind.tsv" </dev/null >"$out/console-$kind"
    end=$(date +%s.%N)
    local best reproduced stability
    best=$(grep '^Best start' "$out/console-$kind" | sed -E 's/.*\(chi2 ([^,]*),.*/\1/')
    reproduced=$(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "reproduced") c = i; next }
                            $c == "yes" { n++ } END { print n + 0 }' "$rep/starts.tsv")
    stability=$(grep -o 'Stability: [^<]*' "$rep/report.html" | sed -E 's/.*best chi2: //')
    printf '%s\t%s\t%.1f\t%s\t%s\t%s\n' "$name" "$kind" "$(echo "$end - $start" | bc)" "$best" "$reproduced" "$stability"
  done
}

printf 'data\tstarts\tseconds\tbest chi2\treproduced of %s\tshares over the starts within 1 %% of the best\n' "$count"
m="$root/examples/st_louis/measured"
run st_louis 7 Mass "$m/concentrations.csv" "$m/uncertainties.csv"
m="$root/examples/baltimore/measured"
run baltimore 8 PM2.5 "$m/concentrations.txt" "$m/uncertainties.txt" --bad OM
mkdir -p "$work/synthetic-data"
"$BIN/bench/make_measured" 307 41 4 3 "$work/synthetic-data" >/dev/null
run synthetic_41x4 4 - "$work/synthetic-data/concentrations.csv" "$work/synthetic-data/uncertainties.csv"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
