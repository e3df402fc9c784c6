#!/usr/bin/env bash
# Whole-run benchmark: the optimized program against its reference build (the same
# driver with the literal kernels), side by side in one run, on three sizes:
#
#   st_louis  the bundled example, 418 records x 13 variables x 7 factors
#   medium    synthetic, 10,000 records x 40 variables x 8 factors
#   large     synthetic, 200,000 records x 60 variables x 20 factors
#
# Synthetic problems come from bench/make_data (fixed seeds); about a third of the
# factors are absent from each record, so records drop factors as on real data.
# Each program runs --passes N with --timing, which prints on standard error the
# time of reading the three input files ("parse"), of every full pass, and of the
# residue and result file. Reported per size and program: parse time and input
# speed, median time per pass, end-to-end wall time of the whole run, its CPU time
# (user + system, all threads) and peak resident memory (/usr/bin/time), with the
# reference/optimized ratios. The machine's load average is printed with the
# table: other work on the machine takes cores from the threads. The console
# output and result file of the optimized program, for every --threads value
# given, must be the same bytes as the reference's; the script fails otherwise.
#
# Usage: bench/run.sh [size ...]      (default: st_louis medium large)
# Environment: THREADS="1 2" (thread counts checked besides the default, which is
# the one timed), PASSES_st_louis=200 PASSES_medium=20 PASSES_large=3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
data="$root/build/bench-data"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(st_louis medium large)
threads_checked=${THREADS:-"1 2"}

TARNOK_NEED_BENCH=1 "$root/scripts/setup.sh"
cmake --preset release -S "$root" -DTARNOK_TESTS=ON -DTARNOK_BENCH=ON >/dev/null
cmake --build "$build" -j 2 --target tarnok tarnok_reference make_data >/dev/null
optimized="$build/tarnok"
reference="$build/tests/reference/tarnok_reference"

# shape: nrec nvar nfakt seed
shape_of() {
  case "$1" in
    medium) echo "10000 40 8 1" ;;
    large) echo "200000 60 20 2" ;;
  esac
}

# Runs one program; leaves console.txt, timing.txt, rss.txt, wall.txt and
# result.tsv in $work.
run_one() {
  local program=$1 folder=$2 passes=$3
  shift 3
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -f "%M %U %S" -o "$work/rss.txt" "$program" --timing --passes "$passes" "$@" \
    n "$folder/profile.tsv" "$folder/form.tsv" "$folder/data.tsv" "$work/result.tsv" \
    </dev/null >"$work/console.txt" 2>"$work/timing.txt"
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }' >"$work/wall.txt"
}

# parse seconds, median pass seconds, wall seconds, peak RSS in MB, CPU seconds
measures() {
  local parse pass wall rss cpu
  parse=$(awk '$2 == "parse" { print $3 }' "$work/timing.txt")
  pass=$(awk '$2 == "pass" { print $3 }' "$work/timing.txt" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  wall=$(cat "$work/wall.txt")
  rss=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss.txt")
  cpu=$(awk '{ printf "%.2f", $2 + $3 }' "$work/rss.txt")
  echo "$parse $pass $wall $rss $cpu"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table="$work/table.md"
{
  echo "| size | records x variables x factors | input MB | tables MB | passes | program | parse s | MB/s | s per pass (median) | end-to-end s | CPU s | peak RSS MB | RSS / tables |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
} >"$table"
ratios="$work/ratios.md"
{
  echo "| size | pass time, reference / optimized | end-to-end, reference / optimized | CPU time, reference / optimized | parse, reference / optimized |"
  echo "|---|---|---|---|---|"
} >"$ratios"

for size in "${sizes[@]}"; do
  if [ "$size" = st_louis ]; then
    folder="$root/examples/st_louis"
    passes=${PASSES_st_louis:-200}
  else
    folder="$data/$size"
    read -r nrec nvar nfakt seed <<<"$(shape_of "$size")"
    if [ ! -s "$folder/data.tsv" ]; then
      mkdir -p "$folder"
      echo "Generating $size ($nrec x $nvar x $nfakt) in $folder" >&2
      "$build/bench/make_data" "$nrec" "$nvar" "$nfakt" "$seed" "$folder"
    fi
    var="PASSES_$size"
    passes=${!var:-$([ "$size" = medium ] && echo 20 || echo 3)}
  fi
  # Dimensions as the program sees them: factors from the profile header,
  # variables and records by line count.
  nfakt=$(head -1 "$folder/profile.tsv" | awk -F'\t' '{ n = 0; for (i = 1; i <= NF; i++) if ($i != "") n++; print n }')
  nvar=$(($(grep -c . "$folder/profile.tsv") - 1))
  nrec=$(($(grep -c . "$folder/data.tsv") - 2))
  input_mb=$(du -b "$folder/data.tsv" | awk '{ printf "%.1f", $1 / 1e6 }')
  # rawdata, usik, dy (float), x (double), t (double), p and fp.
  tables=$((3 * 4 * nrec * nvar + 8 * nrec * nfakt + 8 * nrec + 12 * nvar * nfakt))
  tables_mb=$(awk -v b="$tables" 'BEGIN { printf "%.1f", b / 1048576 }')

  echo "== $size: $nrec x $nvar x $nfakt, $passes passes" >&2
  run_one "$reference" "$folder" "$passes"
  read -r r_parse r_pass r_wall r_rss r_cpu <<<"$(measures)"
  cp "$work/console.txt" "$work/want.console"
  cp "$work/result.tsv" "$work/want.result"
  run_one "$optimized" "$folder" "$passes"
  read -r o_parse o_pass o_wall o_rss o_cpu <<<"$(measures)"
  for label in default $threads_checked; do
    if [ "$label" != default ]; then run_one "$optimized" "$folder" "$passes" --threads "$label"; fi
    if ! cmp -s "$work/console.txt" "$work/want.console" || ! cmp -s "$work/result.tsv" "$work/want.result"; then
      echo "MISMATCH: $size, --threads $label: output differs from the reference" >&2
      exit 1
    fi
    echo "   --threads $label: console output and result file identical to the reference" >&2
  done

  for program in reference optimized; do
    if [ $program = reference ]; then
      set -- "$r_parse" "$r_pass" "$r_wall" "$r_rss" "$r_cpu"
    else
      set -- "$o_parse" "$o_pass" "$o_wall" "$o_rss" "$o_cpu"
    fi
    awk -v size="$size" -v dims="$nrec x $nvar x $nfakt" -v in_mb="$input_mb" -v t_mb="$tables_mb" -v passes="$passes" \
      -v prog="$program" -v parse="$1" -v pass="$2" -v wall="$3" -v rss="$4" -v cpu="$5" 'BEGIN {
        printf "| %s | %s | %s | %s | %s | %s | %.3f | %.0f | %.4f | %.2f | %.2f | %.1f | %.2f |\n",
          size, dims, in_mb, t_mb, passes, prog, parse, in_mb / parse, pass, wall, cpu, rss, rss / t_mb }' >>"$table"
  done
  awk -v size="$size" -v rp="$r_pass" -v op="$o_pass" -v rw="$r_wall" -v ow="$o_wall" -v rr="$r_parse" -v orr="$o_parse" \
    -v rc="$r_cpu" -v oc="$o_cpu" \
    'BEGIN { printf "| %s | %.1fx | %.1fx | %.1fx | %.1fx |\n", size, rp / op, rw / ow, rc / oc, rr / orr }' >>"$ratios"
done

echo
echo "Load average (1, 5, 15 min) before the run: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)."
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); optimized program with its default thread count ($(nproc))."
echo
cat "$table"
echo
cat "$ratios"
