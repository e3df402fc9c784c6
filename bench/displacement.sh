#!/usr/bin/env bash
# Displacement benchmark on the bundled measured files, prepared as the README
# prepares them (St. Louis: 7 factors, --total Mass; Baltimore: 8 factors,
# --total PM2.5, OM left out): the fit with the stop rules STOP, then --disp at
# the levels 4, 8, 16 and 32 (every displaced fit uses the same stop rules), once
# per thread count in THREADS, with the release build. Prints one row per run
# (wall and user seconds from /usr/bin/time, constrained fits, whether the tables
# are the same bytes as with the first thread count), then per data set the
# displacement's console lines, apportionment.tsv and the intervals of the
# total's elements. With CHECK=N, also N interval ends per data set (the first N
# elements of the total, both ends at dQmax 4) refitted by --hold from
# disp_profile.tsv: chi2 of the refit less the base chi2, which should be 4.
# With BS=N, the displacement runs with --bootstrap N and --seed 1 too (the
# share intervals of both methods side by side in apportionment.tsv).
#
# Usage: bench/displacement.sh [DATA...]     (default: st_louis baltimore)
# Environment: THREADS="1 2", STOP="--accelerate --converge 1e-6 --keep-best --passes 20000", CHECK=0, BS=0
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stop=${STOP:---accelerate --converge 1e-6 --keep-best --passes 20000}
threads_list=${THREADS:-1 2}
check=${CHECK:-0}
bs=${BS:-0}
data_sets=${*:-st_louis baltimore}
cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok >/dev/null
bin="$root/build/release/tarnok"
ex="$root/examples"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

prepare() {  # prepare DATA: the prepared folder $work/DATA; prints the total's name
  case $1 in
    st_louis)
      "$bin" prepare --uncertainties "$ex/st_louis/measured/uncertainties.csv" --total Mass --factors 7 \
        "$ex/st_louis/measured/concentrations.csv" "$work/st_louis" >/dev/null
      echo Mass ;;
    baltimore)
      "$bin" prepare --uncertainties "$ex/baltimore/measured/uncertainties.txt" --total PM2.5 --bad OM --factors 8 \
        "$ex/baltimore/measured/concentrations.txt" "$work/baltimore" >/dev/null
      echo PM2.5 ;;
    *) echo "unknown data set $1" >&2; exit 2 ;;
  esac
}

declare -A totals
extra=()
[ "$bs" -gt 0 ] && extra=(--bootstrap "$bs" --seed 1)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'data\tthreads\twall s\tuser s\tconstrained fits\tsame bytes\n'
for data in $data_sets; do
  total=$(prepare "$data")
  totals[$data]=$total
  d="$work/$data"
  first=""
  for threads in $threads_list; do
    # shellcheck disable=SC2086
    /usr/bin/time -f '%e %U' -o "$d/time$threads" "$bin" --threads "$threads" $stop "${extra[@]}" --total "$total" \
      --disp --report "$d/report$threads" n "$d/profile.tsv" "$d/form.tsv" "$d/data.tsv" "$d/result$threads.tsv" \
      </dev/null >"$d/out$threads"
    read -r wall user <"$d/time$threads"
    fits=$(sed -nE 's/^Displacement: .* ([0-9]+) constrained fits.*/\1/p' "$d/out$threads")
    same=-
    if [ -z "$first" ]; then
      first=$threads
    else
      same=yes
      for f in disp.tsv disp_summary.tsv apportionment.tsv; do
        cmp -s "$d/report$first/$f" "$d/report$threads/$f" || same=no
      done
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$data" "$threads" "$wall" "$user" "$fits" "$same"
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

for data in $data_sets; do
  d="$work/$data"
  r="$d/report${threads_list%% *}"
  total=${totals[$data]}
  echo
  echo "== $data"
  grep -E '^(Stopped|Displacement|WARNING)' "$d/out${threads_list%% *}"
  cat "$r/apportionment.tsv"
  echo "-- intervals of the total's elements ($total)"
  awk -F'\t' -v t="$total" 'NR == 1 || $2 == t' "$r/disp.tsv"
  [ "$check" -gt 0 ] || continue
  base=$(sed -nE 's/^Stopped.*\(chi2 ([^,]*),.*/\1/p' "$d/out${threads_list%% *}")
  echo "-- interval ends refitted with --hold (base chi2 $base)"
  printf 'factor\tvariable\tend\tvalue\tchi2 - base\n'
  awk -F'\t' -v t="$total" '$2 == t && $4 == 4 { print $1 "\t" $5 "\t" $6 }' "$r/disp.tsv" | head -n "$check" |
    while IFS=$'\t' read -r factor low high; do
      for end in low high; do
        value=${!end}
        # shellcheck disable=SC2086
        "$bin" --threads 1 $stop --hold "$factor:$total=$value" n "$r/disp_profile.tsv" "$d/form.tsv" "$d/data.tsv" \
          "$d/held.tsv" </dev/null >"$d/held.out"
        chi2=$(sed -nE 's/^Stopped.*\(chi2 ([^,]*),.*/\1/p' "$d/held.out")
        printf '%s\t%s\t%s\t%s\t%s\n' "$factor" "$total" "$end" "$value" "$(awk -v a="$chi2" -v b="$base" 'BEGIN { print a - b }')"
      done
    done
done
