#!/usr/bin/env bash
# Speed and memory of `tarnok prepare` on a generated pair of measured tables
# (bench/make_measured: NSAMPLES x NSPECIES, 8 sources, comma-separated, made in a
# scratch folder under /tmp and removed afterwards). Reports the bytes read and
# written, the wall time and MB/s of (read + written) / time, and the peak resident
# memory (/usr/bin/time) against the bytes of the value and uncertainty tables held
# as float (NSAMPLES x NSPECIES x 4 x 2).
#
# Usage: bench/prepare_speed.sh [NSAMPLES, default 1000000] [NSPECIES, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-1000000}
m=${2:-60}
TARNOK_NEED_BENCH=1 "$root/scripts/setup.sh"
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF -DTARNOK_BENCH=ON >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok make_measured >/dev/null
bin="$root/build/release"
work=$(mktemp -d /tmp/tarnok-prepare-speed-XXXXXX)
trap 'rm -rf "$work"' EXIT

"$bin/bench/make_measured" "$n" "$m" 8 1 "$work"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
/usr/bin/time -v "$bin/tarnok" prepare --uncertainties "$work/uncertainties.csv" --factors 8 \
  "$work/concentrations.csv" "$work/out" >"$work/console" 2>"$work/time"
read_bytes=$(( $(stat -c %s "$work/concentrations.csv") + $(stat -c %s "$work/uncertainties.csv") ))
written_bytes=$(cat "$work/out"/*.tsv | wc -c)
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
seconds=$(awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }' <<<"$wall")
user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
system=$(sed -n 's/.*System time (seconds): //p' "$work/time")
rss_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
tables=$(( n * m * 4 * 2 ))
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v cpu="$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" -v r="$read_bytes" -v w="$written_bytes" -v s="$seconds" -v rss="$rss_kb" -v t="$tables" -v n="$n" -v m="$m" 'BEGIN {
  printf "samples x species\t%d x %d\n", n, m
  printf "read MB\t%.1f\nwritten MB\t%.1f\nwall s\t%.2f\n", r / 1e6, w / 1e6, s
  printf "MB/s (read + written) per wall second\t%.0f\n", (r + w) / 1e6 / s
  printf "CPU s (user + system)\t%.2f\n", cpu
  printf "MB/s (read + written) per CPU second\t%.0f\n", (r + w) / 1e6 / cpu
  printf "peak RSS MB\t%.1f\ntables MB (float)\t%.1f\nRSS / tables\t%.2f\n", rss * 1024 / 1e6, t / 1e6, rss * 1024 / t
}'
