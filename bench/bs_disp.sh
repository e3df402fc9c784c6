#!/usr/bin/env bash
# Bootstrap-with-displacement benchmark: --bs-disp N on the bundled measured
# files, prepared as the README prepares them (st_louis: 7 factors x 13 species,
# --total Mass; baltimore: 8 factors, --total PM2.5, OM left out), at the levels
# 0.5, 1, 2 and 4, after a fit with the stop rules STOP (default the README's),
# which every replicate fit uses too; once per thread count in THREADS, with the
# release build. Prints a table of replicates, threads, wall and CPU time and
# constrained fits, the load average before and after (other work on the machine
# takes cores from the threads), the console lines of the first run, and whether
# every run wrote the same bytes (bs_disp.tsv, bs_disp_summary.tsv).
#
# Usage: bench/bs_disp.sh     Environment: N=100, STOP="--accelerate --converge 1e-6 --keep-best --passes 20000",
#                             THREADS="1 2", DATA=st_louis (or baltimore), KEEP=DIR (copy the first report folder there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${N:-100}
stop=${STOP:---accelerate --converge 1e-6 --keep-best --passes 20000}
threads_list=${THREADS:-1 2}
data=${DATA:-st_louis}
cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok >/dev/null
bin="$root/build/release/tarnok"
ex="$root/examples"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $data in
  st_louis)
    "$bin" prepare --uncertainties "$ex/st_louis/measured/uncertainties.csv" --total Mass --factors 7 \
      "$ex/st_louis/measured/concentrations.csv" "$scratch/in" >/dev/null
    total=Mass ;;
  baltimore)
    "$bin" prepare --uncertainties "$ex/baltimore/measured/uncertainties.txt" --total PM2.5 --bad OM --factors 8 \
      "$ex/baltimore/measured/concentrations.txt" "$scratch/in" >/dev/null
    total=PM2.5 ;;
  *) echo "unknown data set $data" >&2; exit 2 ;;
esac

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'data\treplicates\tthreads\twall_s\tcpu_s\tconstrained_fits\n'
for threads in $threads_list; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "%e %U %S" -o "$scratch/time$threads" "$bin" --threads "$threads" $stop --bs-disp "$n" --seed 1 \
    --total "$total" --report "$scratch/report$threads" \
    n "$scratch/in/profile.tsv" "$scratch/in/form.tsv" "$scratch/in/data.tsv" "$scratch/result$threads.tsv" \
    </dev/null >"$scratch/out$threads"
  read -r w u s <"$scratch/time$threads"
  fits=$(sed -n 's/.*; \([0-9]*\) constrained fits.*/\1/p' "$scratch/out$threads")
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$data" "$n" "$threads" "$w" \
    "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')" "$fits"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
first=${threads_list%% *}
grep -E '^(Bootstrap displacement|WARNING)' "$scratch/out$first"
same=yes
for t in $threads_list; do
  for f in bs_disp.tsv bs_disp_summary.tsv; do
    cmp -s "$scratch/report$first/$f" "$scratch/report$t/$f" || same=no
  done
done
echo "same bytes for threads $threads_list: $same"
echo "-- intervals of the total's elements ($total)"
awk -F'\t' -v t="$total" 'NR == 1 || $2 == t' "$scratch/report$first/bs_disp.tsv"
if [ -n "${KEEP:-}" ]; then cp -r "$scratch/report$first" "$KEEP"; fi
