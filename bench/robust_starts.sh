#!/usr/bin/env bash
# How well robust fits from several starts recover known sources in data with
# gross outliers: the synthetic set of bench/make_data 200 40 6 SEED hard (dense,
# overlapping profiles, 10 % noise, 2 % of the values ten times too large, a
# start drawn without regard to the truth) fitted by every program given with
#
#   --robust --starts N --keep-best --converge 1e-6 --passes LIMIT --threads 2
#
# Printed per program: the best start, its Q(robust) as the program prints it,
# the passes its result belongs to, the mean and the lowest correlation of the
# paired profiles with the true ones (bench/score_profiles ... correlation) and
# the CPU time.
#
#   bench/robust_starts.sh [N [LIMIT [SEED]]] [-- PROGRAM...]
# Defaults: 20 5000 7, and the release build of this tree as the one program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
starts=20 limit=5000 seed=7
[ $# -gt 0 ] && [ "$1" != -- ] && { starts=$1; shift; }
[ $# -gt 0 ] && [ "$1" != -- ] && { limit=$1; shift; }
[ $# -gt 0 ] && [ "$1" != -- ] && { seed=$1; shift; }
[ $# -gt 0 ] && [ "$1" = -- ] && shift
TARNOK_NEED_BENCH=1 "$root/scripts/setup.sh" >/dev/null
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok make_data score_profiles >/dev/null
bin="$root/build/release"
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$bin/tarnok")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/bench/make_data" 200 40 6 "$seed" "$work" hard
printf 'program\tbest start\tQ(robust)\tresult of pass\tmean r\tlowest r\tuser s\n'
k=0
for program in "${programs[@]}"; do
  k=$((k + 1))
  /usr/bin/time -f '%U' -o "$work/$k.time" "$program" --threads 2 --robust --starts "$starts" --keep-best \
    --converge 1e-6 --passes "$limit" n "$work/profile.tsv" "$work/form.tsv" "$work/data.tsv" "$work/$k.tsv" \
    </dev/null >"$work/$k.out" 2>/dev/null
  best=$(sed -nE 's/^Best start: ([0-9]+) of.*/\1/p' "$work/$k.out")
  q=$(sed -nE 's/.*Q\(robust\) ([^;]*);.*/\1/p' "$work/$k.out")
  pass=$(grep "^Start $best of" "$work/$k.out" | sed -nE 's/.*results belong to pass ([0-9]+).*/\1/p')
  score=$("$bin/bench/score_profiles" "$work/truth.tsv" "$work/$k.tsv" correlation)
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$program" "$best" "$q" "$pass" "$score" "$(cat "$work/$k.time")"
done
