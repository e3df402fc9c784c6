#!/usr/bin/env bash
# Displacement benchmark: --disp of the bundled St. Louis example (7 factors x 13
# species, 83 free elements) at the levels 4, 8, 16 and 32 with --total Mass,
# after a fit with the stop rules STOP (default "--converge 1e-4"), which every
# displaced fit uses too; once on 1 thread and once on 2, with the release
# build. Prints the wall and CPU time of each run, the load average before and
# after (other work on the machine takes cores from the threads), the
# displacement's console lines, and whether the two runs wrote the same bytes
# (disp.tsv, disp_summary.tsv, apportionment.tsv).
#
# Usage: bench/displacement.sh            Environment: STOP="--converge 1e-4", THREADS="1 2"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stop=${STOP:---converge 1e-4}
threads_list=${THREADS:-1 2}
cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok >/dev/null
bin="$root/build/release/tarnok"
ex="$root/examples/st_louis"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for threads in $threads_list; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "%e %U %S" -o "$scratch/time$threads" "$bin" --threads "$threads" $stop --disp --total Mass \
    --report "$scratch/report$threads" \
    n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" "$scratch/result$threads.tsv" </dev/null >"$scratch/out$threads"
  read -r w u s <"$scratch/time$threads"
  echo "threads $threads: wall ${w} s, CPU $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') s"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
first=${threads_list%% *}
grep -E '^(Displacement|WARNING)' "$scratch/out$first"
cat "$scratch/report$first/apportionment.tsv"
same=yes
for t in $threads_list; do
  for f in disp.tsv disp_summary.tsv apportionment.tsv; do
    cmp -s "$scratch/report$first/$f" "$scratch/report$t/$f" || same=no
  done
done
echo "same bytes for threads $threads_list: $same"
