#!/usr/bin/env bash
# Compares the constructions of the starting model of `tarnok prepare` (--start
# spread, nmf and spread-nmf) by the fit they lead to: for the bundled measured files
# (St. Louis, 7 factors; Baltimore, 8 factors) and for synthetic tables with known
# sources (bench/make_measured, three data seeds), each construction with three
# start seeds runs prepare and then the fit with --converge 1e-6 --passes 5000.
# Reported per run: passes until the fit stopped, chi2/ny of the result and, for
# the synthetic tables, the recovery of the true sources (bench/score_profiles:
# mean and lowest cosine of the paired profiles, 1 is perfect).
#
# Usage: bench/start_compare.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TARNOK_NEED_BENCH=1 "$root/scripts/setup.sh"
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok make_measured score_profiles >/dev/null
bin="$root/build/release"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # name construction seed factors truth conc unc [prepare options...]
  local name=$1 start=$2 seed=$3 k=$4 truth=$5 conc=$6 unc=$7
  shift 7
  local out="$work/$name-$start-$seed"
  "$bin/tarnok" prepare --start "$start" --seed "$seed" --factors "$k" --uncertainties "$unc" "$@" "$conc" "$out" >/dev/null
  local line
  line=$("$bin/tarnok" --converge 1e-6 --keep-best --passes 5000 n "$out/profile.tsv" "$out/form.tsv" "$out/data.tsv" \
    "$out/result.tsv" </dev/null | grep '^Stopped')
  local passes chi
  passes=$(sed -E 's/.*after ([0-9]+) passes.*/\1/' <<<"$line")
  chi=$(sed -E 's/.*chi2\/ny ([^)]*)\).*/\1/' <<<"$line")
  local score="-	-"
  [ "$truth" = - ] || score=$("$bin/bench/score_profiles" "$truth" "$out/result.tsv")
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$start" "$seed" "$passes" "$chi" "$score"
}

table="$work/table"
printf 'data\tstart\tseed\tpasses\tchi2/ny\tmean cosine\tlowest cosine\n'
{
for start in spread nmf spread-nmf; do
  for seed in 1 2 3; do
    m="$root/examples/st_louis/measured"
    run st_louis "$start" "$seed" 7 - "$m/concentrations.csv" "$m/uncertainties.csv" --total Mass
    m="$root/examples/baltimore/measured"
    run baltimore "$start" "$seed" 8 - "$m/concentrations.txt" "$m/uncertainties.txt" --total PM2.5 --bad OM
  done
done
for data_seed in 1 2 3; do
  d="$work/synthetic$data_seed"
  mkdir -p "$d"
  "$bin/bench/make_measured" 400 15 6 "$data_seed" "$d"
  for start in spread nmf spread-nmf; do
    for seed in 1 2 3; do
      run "synthetic$data_seed" "$start" "$seed" 6 "$d/truth.tsv" "$d/concentrations.csv" "$d/uncertainties.csv"
    done
  done
done
} | tee "$table"

# Per data set (the synthetic ones together) and construction: mean and lowest
# chi2/ny, mean passes and mean recovery.
echo
printf 'data\tstart\truns\tmean chi2/ny\tlowest chi2/ny\tmean passes\tmean cosine\n'
awk -F'\t' '{ d = $1; sub(/[0-9]+$/, "", d); k = d "\t" $2
  if (!(k in n)) { order[++m] = k; low[k] = $5 }
  n[k]++; chi[k] += $5; passes[k] += $4; if ($5 < low[k]) low[k] = $5
  if ($6 != "-") { cs[k] += $6; nc[k]++ } }
  END { for (i = 1; i <= m; i++) { k = order[i]
    printf "%s\t%d\t%.5f\t%.5f\t%.0f\t%s\n", k, n[k], chi[k] / n[k], low[k], passes[k] / n[k],
      nc[k] ? sprintf("%.4f", cs[k] / nc[k]) : "-" } }' "$table" | sort
