#!/usr/bin/env bash
# Bootstrap benchmark: REPLICATES (default 100) bootstrap replicates of the bundled
# St. Louis example with --converge 1e-6 --passes 2000, once on 1 thread and once
# on 2, with the release build. Prints the wall and CPU time of each run, their
# ratio, the machine's load average before and after (other work on the machine
# takes cores from the threads), the bootstrap's console lines, and whether the
# two runs wrote the same bytes (result table, bootstrap.tsv, bootstrap_mapping.tsv).
#
# Usage: bench/bootstrap.sh            Environment: REPLICATES=100
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
replicates=${REPLICATES:-100}
cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok >/dev/null
bin="$root/build/release/tarnok"
ex="$root/examples/st_louis"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A wall
for threads in 1 2; do
  /usr/bin/time -f "%e %U %S" -o "$scratch/time$threads" "$bin" --threads "$threads" --converge 1e-6 --passes 2000 \
    --bootstrap "$replicates" --report "$scratch/report$threads" \
    n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" "$scratch/result$threads.tsv" </dev/null >"$scratch/out$threads"
  read -r w u s <"$scratch/time$threads"
  wall[$threads]=$w
  echo "threads $threads: wall ${w} s, CPU $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') s"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "2 threads / 1 thread (wall): $(awk -v a="${wall[2]}" -v b="${wall[1]}" 'BEGIN { printf "%.3f", a / b }')"
grep '^Bootstrap' "$scratch/out1"
same=yes
for f in result.tsv report/bootstrap.tsv report/bootstrap_mapping.tsv; do
  a=${f/result.tsv/result1.tsv}; a=${a/report\//report1/}
  b=${f/result.tsv/result2.tsv}; b=${b/report\//report2/}
  cmp -s "$scratch/$a" "$scratch/$b" || same=no
done
echo "same bytes for 1 and 2 threads: $same"
inside=$(awk -F'\t' 'NR > 1 { n++; if ($3 >= $4 && $3 <= $8) i++ } END { print i + 0 " of " n }' "$scratch/report1/bootstrap.tsv")
echo "base values inside their 5-95 band: $inside"
[ "$same" = yes ]
