#!/usr/bin/env bash
# Runs the program under valgrind's memcheck: a full run on the bundled example
# with a few passes that also writes the report folder, the same run in robust
# mode, one with starts and bootstrap on two threads, a run that a bad data cell
# ends early, and tarnok prepare on the bundled measured files. Fails on any memory
# error or on memory that is definitely or indirectly lost.
#
#   scripts/memcheck.sh [passes, default 3]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
passes=${1:-3}
TARNOK_NEED_VALGRIND=1 "$root/scripts/setup.sh"
cmake --preset dev -S "$root" >/dev/null
cmake --build "$root/build/dev" --target tarnok >/dev/null
bin="$root/build/dev/tarnok"
ex="$root/examples/st_louis"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

memcheck() {
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect "$@" </dev/null
}

echo "memcheck: full run on the example with its report, --passes $passes"
set +e
memcheck "$bin" --passes "$passes" --report "$scratch/report" --total Mass n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" "$scratch/result.tsv" >"$scratch/out" 2>"$scratch/err"
rc=$?
set -e
if [ $rc -ne 0 ] || [ ! -s "$scratch/result.tsv" ] || [ ! -s "$scratch/report/report.html" ]; then
  cat "$scratch/out" "$scratch/err"
  echo "memcheck: the full run failed (exit $rc)"
  exit 1
fi
cat "$scratch/err"

echo "memcheck: robust run on the example, --passes $passes"
set +e
memcheck "$bin" --robust --keep-best --passes "$passes" n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" "$scratch/result3.tsv" >"$scratch/out" 2>"$scratch/err"
rc=$?
set -e
if [ $rc -ne 0 ] || [ ! -s "$scratch/result3.tsv" ] || ! grep -q "values down-weighted" "$scratch/out"; then
  cat "$scratch/out" "$scratch/err"
  echo "memcheck: the robust run failed (exit $rc)"
  exit 1
fi
cat "$scratch/err"

echo "memcheck: starts and bootstrap on two threads, --passes $passes"
set +e
memcheck "$bin" --passes "$passes" --threads 2 --starts 2 --bootstrap 2 --report "$scratch/report" \
  n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" "$scratch/result4.tsv" >"$scratch/out" 2>"$scratch/err"
rc=$?
set -e
if [ $rc -ne 0 ] || [ ! -s "$scratch/result4.tsv" ] || [ ! -s "$scratch/report/bootstrap.tsv" ]; then
  cat "$scratch/out" "$scratch/err"
  echo "memcheck: the run with starts and bootstrap failed (exit $rc)"
  exit 1
fi
cat "$scratch/err"

echo "memcheck: a run ended by a bad data cell"
sed '5s/\t[^\t]*/\tnot-a-number/2' "$ex/data.tsv" >"$scratch/bad.tsv"
set +e
memcheck "$bin" --passes "$passes" n "$ex/profile.tsv" "$ex/form.tsv" "$scratch/bad.tsv" "$scratch/result2.tsv" >"$scratch/out" 2>"$scratch/err"
rc=$?
set -e
if [ $rc -ne 1 ] || ! grep -q "not-a-number' is not a number" "$scratch/out"; then
  cat "$scratch/out" "$scratch/err"
  echo "memcheck: the rejected run did not end with its message and status 1 (exit $rc)"
  exit 1
fi
cat "$scratch/err"
echo "memcheck: tarnok prepare on the St. Louis measured files"
measured="$root/examples/st_louis/measured"
set +e
memcheck "$bin" prepare --uncertainties "$measured/uncertainties.csv" --total Mass --factors 7 \
  "$measured/concentrations.csv" "$scratch/prepared" >"$scratch/out" 2>"$scratch/err"
rc=$?
set -e
if [ $rc -ne 0 ] || [ ! -s "$scratch/prepared/data.tsv" ]; then
  cat "$scratch/out" "$scratch/err"
  echo "memcheck: prepare failed (exit $rc)"
  exit 1
fi
cat "$scratch/err"
echo "memcheck: no errors, no leaks"
