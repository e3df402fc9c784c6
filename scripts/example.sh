#!/usr/bin/env bash
# Builds tarnok and runs it the whole way on the bundled St. Louis measured files:
# `tarnok prepare` turns them into the fit's input files in ./tarnok-example, then
# the fit runs until it has settled and writes tarnok-example/result.tsv and the
# report folder tarnok-example/report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target tarnok
bin="$root/build/release/tarnok"
measured="$root/examples/st_louis/measured"
work=tarnok-example
"$bin" prepare --force --uncertainties "$measured/uncertainties.csv" --total Mass --factors 7 \
  "$measured/concentrations.csv" "$work"
echo
"$bin" --accelerate --converge 1e-6 --keep-best --passes "${PASSES:-20000}" \
  --report "$work/report" --total Mass \
  n "$work/profile.tsv" "$work/form.tsv" "$work/data.tsv" "$work/result.tsv" </dev/null
echo "Result table written to $(pwd)/$work/result.tsv"
echo "Report written to $(pwd)/$work/report/report.html"
