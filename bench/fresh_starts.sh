#!/usr/bin/env bash
# Fresh starts against perturbed starts: for each data set, `tarnok prepare` (seed 1)
# and then the fit with --starts N and with --fresh-starts N (--seed 1), with the
# stop rules prepare prints (--accelerate --converge 1e-6 --keep-best --passes
# 20000); the synthetic sets also with --converge 1e-5 --passes 5000 alone.
# Reported per run: wall and user seconds (/usr/bin/time), the passes of all starts
# together, the best chi2, how many starts reproduced the best start (chi2 within
# 0.1 %, every factor at r >= 0.9) and the spread of the factor shares over the
# starts within 1 % of the best chi2. A third line per set and recipe times the
# construction of the fresh starts alone (--fresh-starts N --passes 0).
#
# Data: the bundled measured St. Louis (7 factors, shares of Mass) and Baltimore
# (8 factors, shares of PM2.5, OM left out) files; a synthetic table of 307 samples
# x 41 species x 4 sources (bench/make_measured, data seed 3; shares of all
# species); and one of 307 x 41 x 6 nearly collinear sources (data seed 5, each
# profile mixed 0.5 with the next), fitted with 6 factors, whose starts end in
# several minima.
#
# Usage: bench/fresh_starts.sh [N] [SET...]   (default 20 starts; SET: st_louis,
#        baltimore, synthetic_41x4, collinear_41x6; default all)
# Environment: BIN (folder of a release build holding tarnok and bench/make_measured;
# default: build it in build/release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-20}
shift || true
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(st_louis baltimore synthetic_41x4 collinear_41x6)
if [ -z "${BIN:-}" ]; then
  cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
  cmake --build "$root/build/release" -j 2 --target tarnok make_measured >/dev/null
  BIN="$root/build/release"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
recipe_prepare=(--accelerate --converge 1e-6 --keep-best --passes 20000)
recipe_short=(--converge 1e-5 --passes 5000)

fit() {  # name kind recipe-name totals... -- recipe...: one timed run, one table row
  local name=$1 kind=$2 recipe=$3 out="$work/$1"
  shift 3
  local totals=()
  while [ "$1" != -- ]; do totals+=("$1"); shift; done
  shift
  local rep="$out/report-$kind-$recipe" log="$out/console-$kind-$recipe"
  /usr/bin/time -f '%e %U' -o "$log.time" "$BIN/tarnok" --"$kind" "$count" --seed 1 "$@" --report "$rep" \
    "${totals[@]}" n "$out/profile.tsv" "$out/form.tsv" "$out/data.tsv" "$out/result.tsv" </dev/null >"$log"
  local wall user passes best reproduced stability
  read -r wall user <"$log.time"
  passes=$(sed -nE 's/^Start .* after ([0-9]+) pass.*/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')
  best=$(grep '^Best start' "$log" | sed -E 's/.*\(chi2 ([^,]*),.*/\1/')
  reproduced=$(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "reproduced") c = i; next }
                          $c == "yes" { n++ } END { print n + 0 }' "$rep/starts.tsv")
  stability=$(grep -o 'Stability: [^<]*' "$rep/report.html" | sed -E 's/.*best chi2: //')
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$kind" "$recipe" "$wall" "$user" "$passes" "$best" \
    "$reproduced" "$stability"
}

construction() {  # name: the fresh starts built, no pass run
  local out="$work/$1"
  /usr/bin/time -f '%e %U' -o "$out/build.time" "$BIN/tarnok" --fresh-starts "$count" --seed 1 --passes 0 \
    n "$out/profile.tsv" "$out/form.tsv" "$out/data.tsv" "$out/result.tsv" </dev/null >/dev/null
  local wall user
  read -r wall user <"$out/build.time"
  printf '%s\tfresh-starts\tconstruction only (--passes 0)\t%s\t%s\t0\n' "$1" "$wall" "$user"
}

run() {  # name factors total(- for none) recipes conc unc [prepare options...]
  local name=$1 k=$2 total=$3 recipes=$4 conc=$5 unc=$6
  shift 6
  local totals=()
  [ "$total" = - ] || totals=(--total "$total")
  "$BIN/tarnok" prepare --seed 1 --factors "$k" "${totals[@]}" --uncertainties "$unc" "$@" "$conc" "$work/$name" \
    >/dev/null 2>&1
  for kind in starts fresh-starts; do
    fit "$name" "$kind" prepare-recipe "${totals[@]}" -- "${recipe_prepare[@]}"
  done
  if [ "$recipes" = both ]; then
    for kind in starts fresh-starts; do
      fit "$name" "$kind" converge-1e-5 "${totals[@]}" -- "${recipe_short[@]}"
    done
  fi
  construction "$name"
}

synthetic() {  # folder nsources seed [overlap]
  mkdir -p "$work/$1-data"
  "$BIN/bench/make_measured" 307 41 "$2" "$3" "$work/$1-data" ${4:+"$4"} >/dev/null
}

printf 'data\tstarts\trecipe\twall s\tuser s\tpasses\tbest chi2\treproduced of %s\tshares over the starts within 1 %% of the best\n' "$count"
for set in "${sets[@]}"; do
  case $set in
    st_louis)
      m="$root/examples/st_louis/measured"
      run st_louis 7 Mass one "$m/concentrations.csv" "$m/uncertainties.csv" ;;
    baltimore)
      m="$root/examples/baltimore/measured"
      run baltimore 8 PM2.5 one "$m/concentrations.txt" "$m/uncertainties.txt" --bad OM ;;
    synthetic_41x4)
      synthetic synthetic_41x4 4 3
      run synthetic_41x4 4 - both "$work/synthetic_41x4-data/concentrations.csv" \
        "$work/synthetic_41x4-data/uncertainties.csv" ;;
    collinear_41x6)
      synthetic collinear_41x6 6 5 0.5
      run collinear_41x6 6 - both "$work/collinear_41x6-data/concentrations.csv" \
        "$work/collinear_41x6-data/uncertainties.csv" ;;
    *) echo "bench/fresh_starts.sh: unknown set $set" >&2; exit 1 ;;
  esac
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
