#!/usr/bin/env bash
# Which pass a robust fit with --keep-best returns, and how far its factor shares
# lie from a long robust run. For the bundled St. Louis (7 factors) and Baltimore
# (8 factors) measured files prepared as the examples prepare them, the bundled
# example models (examples/st_louis, examples/baltimore) and a synthetic set with
# known sources and gross outliers (bench/make_data 200 40 6 7 hard: 2 % of the
# values ten times too large), every program given runs
#
#   --robust --keep-best --converge TOL --passes LIMIT      (the unattended recipe)
#
# once as it stands and once with --accelerate,
# and the last program given also runs --robust --passes LONG (no stop rule, so the
# result is the last pass; the passes themselves do not depend on how they are
# ranked). Printed per data set and program: the pass the result belongs to of
# the passes run, Q(robust) of the result as the program prints it, the largest
# difference of a factor's share against the long run (bench/factor_shares.py,
# percentage points) and the CPU time. One thread; the long run's time too.
#
#   bench/robust_rank.sh [TOL [LIMIT [LONG]]] [-- PROGRAM...]
# Defaults: 1e-6 20000 60000, and the release build of this tree as the one program.
# For example, against the build of an earlier commit:
#   bench/robust_rank.sh 1e-6 20000 60000 -- /path/to/old/tarnok build/release/tarnok
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tol=1e-6 limit=20000 long=60000
[ $# -gt 0 ] && [ "$1" != -- ] && { tol=$1; shift; }
[ $# -gt 0 ] && [ "$1" != -- ] && { limit=$1; shift; }
[ $# -gt 0 ] && [ "$1" != -- ] && { long=$1; shift; }
[ $# -gt 0 ] && [ "$1" = -- ] && shift
TARNOK_NEED_BENCH=1 "$root/scripts/setup.sh" >/dev/null
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok make_data >/dev/null
bin="$root/build/release"
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$bin/tarnok")
last=${programs[${#programs[@]} - 1]}
shares="/usr/bin/python3 $root/bench/factor_shares.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ex="$root/examples"
"$last" prepare --uncertainties "$ex/st_louis/measured/uncertainties.csv" --total Mass --factors 7 \
  "$ex/st_louis/measured/concentrations.csv" "$work/st_louis_measured" >/dev/null
"$last" prepare --uncertainties "$ex/baltimore/measured/uncertainties.txt" --total PM2.5 --bad OM --factors 8 \
  "$ex/baltimore/measured/concentrations.txt" "$work/baltimore_measured" >/dev/null
mkdir -p "$work/synthetic_outliers"
"$bin/bench/make_data" 200 40 6 7 "$work/synthetic_outliers" hard
folders=("$work/st_louis_measured" "$work/baltimore_measured" "$ex/st_louis" "$ex/baltimore" "$work/synthetic_outliers")

fit() {  # fit FOLDER PROGRAM NAME OPTIONS...: runs the fit, the result in $work/NAME.tsv
  local folder=$1 program=$2 name=$3
  shift 3
  /usr/bin/time -f '%U' -o "$work/$name.time" "$program" --threads 1 --robust "$@" \
    n "$folder/profile.tsv" "$folder/form.tsv" "$folder/data.tsv" "$work/$name.tsv" </dev/null >"$work/$name.out" 2>/dev/null
}

printf 'data\tprogram\tpass returned / passes\tQ(robust)\tlargest share difference (points)\tuser s\n'
for folder in "${folders[@]}"; do
  data=$(basename "$folder")
  fit "$folder" "$last" "$data-long" --passes "$long"
  printf '%s\tlong run\t%s / %s\t%s\t0\t%s\n' "$data" "$long" "$long" \
    "$(sed -nE 's/.*Q\(robust\) ([^;]*);.*/\1/p' "$work/$data-long.out")" "$(cat "$work/$data-long.time")"
  k=0
  for program in "${programs[@]}"; do
    k=$((k + 1))
    for accelerate in "" --accelerate; do
      name="$data-$k$accelerate"
      # shellcheck disable=SC2086 # an empty $accelerate is no argument
      fit "$folder" "$program" "$name" --keep-best --converge "$tol" --passes "$limit" $accelerate
      line=$(grep '^Stopped' "$work/$name.out" || true)
      returned=$(sed -nE 's/.*results belong to pass ([0-9]+).*/\1/p' <<<"$line")
      passes=$(sed -nE -e 's/.*after ([0-9]+) passes.*/\1/p' -e 's/.*diverged in pass ([0-9]+) .*/\1 (diverged)/p' <<<"$line")
      q=$(sed -nE 's/.*Q\(robust\) ([^;]*);.*/\1/p' "$work/$name.out")
      diff=$($shares "$work/$name.tsv" "$work/$data-long.tsv" | sed -nE 's/^largest difference[^\t]*\t//p')
      printf '%s\t%s\t%s / %s\t%s\t%s\t%s\n' "$data" "$program${accelerate:+ $accelerate}" "$returned" "$passes" "$q" \
        "$diff" "$(cat "$work/$name.time")"
    done
  done
done
