#!/usr/bin/env bash
# Runs two builds of tarnok on the same cases (fits, reports, starts, fresh starts,
# bootstrap, robust mode, refusals, prepare) and compares every byte they write:
# console, standard error, exit status and every file. run.json is compared without its
# times, paths and options echo, report.html without its time cells; the programs'
# own paths are blanked. For checking that a change keeps the bytes.
#
#   scripts/compare_programs.sh OLD_TARNOK NEW_TARNOK
set -uo pipefail
old=$(realpath "$1"); new=$(realpath "$2"); ex=$(cd "$(dirname "$0")/.." && pwd)/examples
w=$(mktemp -d); fails=0
SL="$ex/st_louis"; BA="$ex/baltimore"
cases=(
 "p56|--passes 56 n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "conv|--converge 1e-5 --keep-best --passes 3000 --report OUT/rep --total Mass n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "off|--passes 40 --threads 3 o SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv 0.3"
 "robust|--robust --passes 200 --keep-best --report OUT/rep n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "ens|--starts 3 --bootstrap 3 --passes 60 --report OUT/rep --total Mass n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "ensrob|--robust 3 --starts 2 --bootstrap 2 --converge 1e-4 --passes 400 --report OUT/rep n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "balt|--passes 30 n BA/profile.tsv BA/form.tsv BA/data.tsv OUT/r.tsv"
 "missing|--passes 5 n SL/none.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "args|n a b c"
 "mode|--passes 3 x a b c d"
 "rot|--passes 3 n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv 1e999"
 "total|--passes 3 --report OUT/rep --total Nope n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "inres|--passes 3 n SL/profile.tsv SL/form.tsv SL/data.tsv SL/data.tsv"
 "help|--help"
 "version|--version"
 "badopt|--passes x n a b c d"
 "boot-noreport|--bootstrap 2 --passes 3 n a b c d"
 "fresh|--fresh-starts 3 --seed 4 --passes 60 --report OUT/rep --total Mass n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "keyend|n SL/profile.tsv SL/form.tsv SL/data.tsv OUT/r.tsv"
 "prep|prepare --uncertainties SLM/uncertainties.csv --total Mass --factors 7 SLM/concentrations.csv OUT/prep"
 "prep-balt|prepare --uncertainties BAM/uncertainties.txt --factors 5 --bad Cd BAM/concentrations.txt OUT/prep"
 "prep-bad|prepare --uncertainties SLM/uncertainties.csv --factors 40 SLM/concentrations.csv OUT/prep"
 "prep-nmf|prepare --uncertainties SLM/uncertainties.csv --factors 4 --start nmf --seed 3 SLM/concentrations.csv OUT/prep"
)
for entry in "${cases[@]}"; do
  name=${entry%%|*}; args=${entry#*|}
  for which in old new; do
    prog=$old; [ $which = new ] && prog=$new
    out=$w/$which/$name; mkdir -p $out
    a=${args//SLM\//$SL/measured/}; a=${a//BAM\//$BA/measured/}; a=${a//SL\//$SL/}; a=${a//BA\//$BA/}; a=${a//OUT\//$out/}
    (cd $out && $prog $a > $out/console.txt 2> $out/stderr.txt < /dev/null; echo $? > $out/status)
    sed -i "s|$out|OUT|g; s|$prog|PROG|g" $out/console.txt $out/stderr.txt
    [ -f $out/rep/run.json ] && python3 -c "
import json,sys
d=json.load(open('$out/rep/run.json'))
for k in ['start_utc','end_utc','times','command_line','inputs','result','options']: d.pop(k,None)
json.dump(d,open('$out/rep/run.json','w'),indent=1,sort_keys=True)"
    [ -f $out/rep/report.html ] && sed -i -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z//g; s/[0-9.]+ s\b//g' $out/rep/report.html
    [ -f $out/rep/report.html ] && sed -i -E "s|$out|OUT|g; s|$prog|PROG|g; s#(read, fit, output \(s\)</td><td class=\"wrap\">)[^<]*#\1#" $out/rep/report.html
  done
  if diff -r $w/old/$name $w/new/$name > $w/$name.diff; then echo "same  $name"; else echo "DIFF  $name"; head -c 600 $w/$name.diff; echo; fails=1; fi
done
echo "outputs kept in $w"; exit $fails
