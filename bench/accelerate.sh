#!/usr/bin/env bash
# Passes and time to a settled answer with and without --accelerate, on the
# bundled St. Louis (7 factors) and Baltimore (8 factors) measured files, prepared
# as the examples prepare them, and on the slow-drift case (bench/make_drift 11).
# For each data set: a 20,000-pass run without the option (--keep-best: the lowest
# chi2 it saw) is the settled answer; then ROUNDS rounds, each running the fit with
# --converge 1e-6 --passes 20000 without and with --accelerate, one after the
# other (in turns, so that a drift of the machine's speed hits both alike). A run
# is settled when its chi2 is not above the long run's and every factor's share
# (bench/factor_shares.py) is within 0.1 point of it. Printed per run: passes,
# wall and user seconds (/usr/bin/time), chi2, the largest share difference,
# extrapolations accepted/tried; then 20 starts (--starts 20) with and without.
#
#   bench/accelerate.sh [ROUNDS]      (default 3; one thread throughout)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok make_drift >/dev/null
bin="$root/build/release"
shares="/usr/bin/python3 $root/bench/factor_shares.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ex="$root/examples"
"$bin/tarnok" prepare --uncertainties "$ex/st_louis/measured/uncertainties.csv" --total Mass --factors 7 \
  "$ex/st_louis/measured/concentrations.csv" "$work/st_louis" >/dev/null
"$bin/tarnok" prepare --uncertainties "$ex/baltimore/measured/uncertainties.txt" --total PM2.5 --bad OM --factors 8 \
  "$ex/baltimore/measured/concentrations.txt" "$work/baltimore" >/dev/null
mkdir -p "$work/drift"
"$bin/bench/make_drift" 11 "$work/drift"

fit() {  # fit DATA NAME OPTIONS...: runs the fit; prints passes, wall s, user s, chi2, shares, extrapolations
  local data=$1 name=$2
  shift 2
  local d="$work/$data"
  /usr/bin/time -f '%e %U' -o "$d/$name.time" "$bin/tarnok" --threads 1 --timing "$@" \
    n "$d/profile.tsv" "$d/form.tsv" "$d/data.tsv" "$d/$name.tsv" </dev/null >"$d/$name.out" 2>"$d/$name.err"
  local passes chi2 extra
  if grep -q '^Best start' "$d/$name.out"; then  # --starts: the passes of all starts, the best one's chi2
    passes=$(sed -nE 's/^Start .* after ([0-9]+) pass.*/\1/p' "$d/$name.out" | awk '{ n += $1 } END { print n + 0 }')
    chi2=$(grep '^Best start' "$d/$name.out" | sed -E 's/.*\(chi2 ([^,]*),.*/\1/')
  else
    passes=$(awk 'NF == 3 && $2 ~ /^-?[0-9]+$/ { n++ } END { print n + 0 }' "$d/$name.out")
    chi2=$(grep '^Stopped' "$d/$name.out" | sed -E 's/.*\(chi2 ([^,]*),.*/\1/')
  fi
  extra=$(awk '$2 == "extrapolations" { print $3 "/" $4 }' "$d/$name.err")
  printf '%s\t%s\t%s\t%s\t%s\n' "$passes" "$(cat "$d/$name.time" | tr ' ' '\t')" "$chi2" "${extra:--}"
}

printf 'data\trun\tpasses\twall s\tuser s\tchi2\taccepted/tried\tlargest share difference\tsettled\n'
for data in st_louis baltimore drift; do
  long=$(fit "$data" long --keep-best --passes 20000)
  printf '%s\t20,000 passes\t%s\t-\t-\n' "$data" "$long"
  long_chi2=$(cut -f4 <<<"$long")
  for round in $(seq "$rounds"); do
    for option in plain accelerate; do
      extra=()
      [ "$option" = accelerate ] && extra=(--accelerate)
      row=$(fit "$data" "$option" --converge 1e-6 --keep-best --passes 20000 "${extra[@]}")
      diff=$($shares "$work/$data/long.tsv" "$work/$data/$option.tsv" | tail -n 1 | cut -f2)
      settled=$(awk -v c="$(cut -f4 <<<"$row")" -v l="$long_chi2" -v d="$diff" 'BEGIN { print (c <= l && d <= 0.1) ? "yes" : "no" }')
      printf '%s\t%s %s\t%s\t%s\t%s\n' "$data" "$option" "$round" "$row" "$diff" "$settled"
    done
  done
  for option in plain accelerate; do
    extra=()
    [ "$option" = accelerate ] && extra=(--accelerate)
    row=$(fit "$data" "starts-$option" --starts 20 --converge 1e-6 --keep-best --passes 20000 "${extra[@]}")
    printf '%s\t20 starts %s\t%s\t-\t-\n' "$data" "$option" "$row"
  done
done
