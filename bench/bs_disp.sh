#!/usr/bin/env bash
# Bootstrap-with-displacement benchmark: --bs-disp N of the bundled St. Louis
# example (7 factors x 13 species, 83 free elements) at the levels 0.5, 1, 2 and
# 4, after a fit with the stop rules STOP (default "--converge 1e-4"), which
# every replicate fit and every displaced fit uses too; once per thread count in
# THREADS, with the release build. Prints a table of replicates, threads, wall
# and CPU time and constrained fits, the load average before and after (other
# work on the machine takes cores from the threads), the console lines of the
# first run, and whether every run wrote the same bytes (bs_disp.tsv,
# bs_disp_summary.tsv).
#
# Usage: bench/bs_disp.sh     Environment: N=100, STOP="--converge 1e-4", THREADS="1 2",
#                             EXAMPLE=st_louis (or baltimore), KEEP=DIR (copy the first report there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${N:-100}
stop=${STOP:---converge 1e-4}
threads_list=${THREADS:-1 2}
example=${EXAMPLE:-st_louis}
cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok >/dev/null
bin="$root/build/release/tarnok"
ex="$root/examples/$example"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'example\treplicates\tthreads\twall_s\tcpu_s\tconstrained_fits\n'
for threads in $threads_list; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "%e %U %S" -o "$scratch/time$threads" "$bin" --threads "$threads" $stop --bs-disp "$n" \
    --report "$scratch/report$threads" \
    n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" "$scratch/result$threads.tsv" </dev/null >"$scratch/out$threads"
  read -r w u s <"$scratch/time$threads"
  fits=$(sed -n 's/.*; \([0-9]*\) constrained fits.*/\1/p' "$scratch/out$threads")
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$example" "$n" "$threads" "$w" \
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
if [ -n "${KEEP:-}" ]; then cp -r "$scratch/report$first" "$KEEP"; fi
