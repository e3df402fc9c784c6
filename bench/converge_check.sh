#!/usr/bin/env bash
# Checks the convergence stop on one data set: runs tarnok with --converge TOL
# (and --passes LIMIT as a bound), then the same fit for 20 times as many passes,
# and prints both runs' closing lines and each factor's share of the two result
# tables (bench/factor_shares.py) with the largest difference.
#
#   bench/converge_check.sh TARNOK FOLDER TOL [LIMIT]
# FOLDER holds profile.tsv, form.tsv and data.tsv (normal mode).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tarnok=$1 folder=$2 tol=$3 limit=${4:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() {  # run NAME OPTIONS...
  local name=$1
  shift
  "$tarnok" "$@" n "$folder/profile.tsv" "$folder/form.tsv" "$folder/data.tsv" "$work/$name.tsv" \
    </dev/null >"$work/$name.out" 2>/dev/null
}
run converged --converge "$tol" --passes "$limit"
passes=$(awk 'NF == 3 && $2 ~ /^-?[0-9]+$/ { n++ } END { print n + 0 }' "$work/converged.out")
echo "converged run: $(tail -n 1 "$work/converged.out")"
run long --keep-best --passes $((20 * passes))
echo "run of $((20 * passes)) passes: $(tail -n 1 "$work/long.out")"
"$here/factor_shares.py" "$work/converged.tsv" "$work/long.tsv"
