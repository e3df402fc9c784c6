#!/usr/bin/env bash
# Time of `tarnok scan` on the bundled measured sets, prepared as docs/scan.md
# prepares them: St. Louis K = 3..9 (shares of Mass) and Baltimore K = 3..10
# (shares of PM2.5, OM left out), N fresh starts per K (default 10), with the
# scan's default stop rules. Printed per set: wall and user seconds of the whole
# scan (/usr/bin/time), the load average before it, then scan.tsv.
#
#   bench/scan.sh [N] [SET...]      (SET: st_louis, baltimore; default both)
# Environment: BIN (folder of a release build holding tarnok; default: build it
# in build/release); THREADS (the scan's --threads; default one per core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10}
shift || true
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(st_louis baltimore)
if [ -z "${BIN:-}" ]; then
  cmake --preset release -S "$root" -DTARNOK_TESTS=OFF >/dev/null
  cmake --build "$root/build/release" -j 2 --target tarnok >/dev/null
  BIN="$root/build/release"
fi
threads=()
[ -z "${THREADS:-}" ] || threads=(--threads "$THREADS")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ex="$root/examples"

scan() {  # name factors-range total prepare-arguments...
  local name=$1 range=$2 total=$3
  shift 3
  "$BIN/tarnok" prepare --seed 1 --total "$total" "$@" "$work/$name" >/dev/null
  local load
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  /usr/bin/time -f '%e %U' -o "$work/$name.time" "$BIN/tarnok" scan --factors "$range" --starts "$count" \
    "${threads[@]}" --total "$total" "$work/$name" "$work/$name-scan" </dev/null >"$work/$name.out"
  read -r wall user <"$work/$name.time"
  printf '%s: K = %s, %s starts: %s s wall, %s s user (load before: %s on %s cores)\n' \
    "$name" "$range" "$count" "$wall" "$user" "$load" "$(nproc)"
  cat "$work/$name-scan/scan.tsv"
  echo
}

for set in "${sets[@]}"; do
  case $set in
    st_louis)
      scan st_louis 3-9 Mass --factors 7 --uncertainties "$ex/st_louis/measured/uncertainties.csv" \
        "$ex/st_louis/measured/concentrations.csv" ;;
    baltimore)
      scan baltimore 3-10 PM2.5 --factors 8 --bad OM --uncertainties "$ex/baltimore/measured/uncertainties.txt" \
        "$ex/baltimore/measured/concentrations.txt" ;;
    *) echo "bench/scan.sh: unknown set $set" >&2; exit 1 ;;
  esac
done
