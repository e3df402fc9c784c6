#!/usr/bin/env bash
# The Windows program, checked on Linux in one Wine session: cross-builds tarnok.exe
# and its tests with MinGW-w64, runs the tests under Wine, runs the Linux and the
# Windows program on the bundled example and on generated problems (in a folder
# named "Müller") and compares the console output and every file written byte for
# byte (a run record, run.json, but for its times, the program's path and the
# thread count), then builds the release packages and smoke-tests both
# (scripts/package.sh, with a new Wine prefix of its own).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TARNOK_NEED_WINDOWS=1 "$root/scripts/setup.sh"
start=$(date +%s)

cmake --preset windows -S "$root" -DTARNOK_TESTS=ON >/dev/null
cmake --build "$root/build/windows" -j 2 --target tarnok unit_tests platform_tests
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF >/dev/null
cmake --build "$root/build/release" -j 2 --target tarnok
linux="$root/build/release/tarnok"
windows="$root/build/windows/tarnok.exe"

work=$(mktemp -d)
export WINEPREFIX="$work/wine" WINEDEBUG=-all DISPLAY=
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# One Wine server for every run below; it prepares the prefix once (tens of seconds).
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
echo "Wine ready after $(($(date +%s) - start)) s"

# Output goes to files, never into a pipe: Wine's own processes would hold it open.
for test in unit_tests platform_tests; do
  if ! wine "$root/build/windows/tests/$test.exe" >"$work/$test.log" 2>&1 </dev/null; then
    cat "$work/$test.log"
    echo "FAILED under Wine: $test" >&2
    exit 1
  fi
  tail -n 1 "$work/$test.log"
done

# The problems: the bundled example and generated ones.
folder="M$(printf '\xc3\xbc')ller"  # Müller
inputs="$work/inputs"
mkdir -p "$inputs/st_louis"
cp "$root/examples/st_louis/"*.tsv "$inputs/st_louis/"
g++ -std=c++20 -O2 -o "$work/make_data" "$root/bench/make_data.cpp"
mkdir -p "$inputs/small" "$inputs/medium"
"$work/make_data" 600 12 5 11 "$inputs/small" >/dev/null
"$work/make_data" 3000 30 8 12 "$inputs/medium" >/dev/null
# Faulty inputs: the error messages must match too.
mkdir -p "$inputs/faulty"
cp "$inputs/st_louis/"*.tsv "$inputs/faulty/"
sed -i '57s/\t[0-9.e-]*\t/\tn.d.\t/' "$inputs/faulty/data.tsv"

# Each case: a name, the arguments (files named by their problem folder, relative to
# the run's folder, written as ./$folder/..., so both programs echo the same text).
cases=(
  "example-56|--passes 56 n P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/result.tsv"
  "example-converge|--converge 1e-6 --keep-best --passes 5000 n P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/r\xc3\xa9sultat.tsv"
  "example-offset-rotate|--passes 40 --threads 3 o P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/result.tsv 0.3"
  "small|--passes 30 --threads 1 n P/small/profile.tsv P/small/form.tsv P/small/data.tsv P/small.tsv"
  "medium|--passes 8 n P/medium/profile.tsv P/medium/form.tsv P/medium/data.tsv P/medium.tsv"
  "faulty-cell|--passes 5 n P/faulty/profile.tsv P/faulty/form.tsv P/faulty/data.tsv P/result.tsv"
  "missing-file|--passes 5 n P/none.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/result.tsv"
  "input-as-result|--passes 5 n P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/st_louis/data.tsv"
  "result-is-folder|--passes 5 n P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/st_louis"
  "report|--passes 56 --report P/rep --total Mass n P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/result.tsv"
  "report-is-result|--passes 5 --report P/rep n P/st_louis/profile.tsv P/st_louis/form.tsv P/st_louis/data.tsv P/rep/./run.json"
  "bad-option|--passes x n a b c d"
  "help|--help"
)
# A report folder of each program: its run record the same but for the times, the
# program's path and the thread count, with every input read (size and checksum
# known), and its page the same but for the rows that show those. The other files
# are compared byte for byte.
same_report() {
  python3 - "$1" "$2" <<'EOF_PY'
import json
import re
import sys

records, pages = [], []
for folder in sys.argv[1:]:
    with open(folder + "/run.json", encoding="utf-8") as f:
        record = json.load(f)
    for key, entry in record["inputs"].items():
        if entry["size"] is None or entry["sha256"] is None:
            sys.exit(f"{folder}/run.json: the input {key} was not read")
    del record["times"], record["threads"]
    record["command_line"][0] = "tarnok"
    records.append(record)
    with open(folder + "/report.html", encoding="utf-8") as f:
        page = f.read()
    for row in ("threads", r"started, ended \(UTC\)", r"read, fit, output \(s\)"):
        page = re.sub("(<td class=\"name\">" + row + "</td><td[^>]*>)[^<]*", r"\1", page)
    page = re.sub("(<td class=\"name\">command line</td><td[^>]*>)[^ <]*", r"\1tarnok", page)
    pages.append(page)
if records[0] != records[1]:
    for key in sorted(set(records[0]) | set(records[1])):
        if records[0].get(key) != records[1].get(key):
            print(f"run.json differs in {key}", file=sys.stderr)
    sys.exit(1)
if pages[0] != pages[1]:
    sys.exit("report.html differs beyond the times, the program's path and the thread count")
EOF_PY
}

failed=0
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  args=$(printf '%b' "${entry#*|}")
  args=${args//P\//$folder\/}
  for system in linux windows; do
    run="$work/runs/$system/$name"
    mkdir -p "$run/$folder"
    cp -r "$inputs/"* "$run/$folder/"
    # shellcheck disable=SC2086  # the arguments are split at spaces on purpose
    if [ $system = linux ]; then
      (cd "$run" && set +e; "$linux" $args >../$name.console 2>/dev/null </dev/null; echo "exit $?" >>../$name.console)
    else
      (cd "$run" && set +e; wine "$windows" $args >../$name.console 2>/dev/null </dev/null; echo "exit $?" >>../$name.console)
    fi
  done
  same=1
  diff -r -x run.json -x report.html "$work/runs/linux/$name" "$work/runs/windows/$name" >/dev/null || same=0
  cmp -s "$work/runs/linux/$name.console" "$work/runs/windows/$name.console" || same=0
  reports=$(cd "$work/runs/linux/$name" && find . -name run.json -printf '%h\n' | sort)
  [ "$reports" = "$(cd "$work/runs/windows/$name" && find . -name run.json -printf '%h\n' | sort)" ] || same=0
  for report in $reports; do
    same_report "$work/runs/linux/$name/$report" "$work/runs/windows/$name/$report" || same=0
  done
  if [ $same = 1 ]; then
    echo "same bytes: $name ($(tail -n 1 "$work/runs/linux/$name.console"), $(find "$work/runs/linux/$name" -type f | wc -l) files${reports:+; run.json and report.html alike})"
  else
    echo "DIFFERENT: $name" >&2
    diff -r "$work/runs/linux/$name" "$work/runs/windows/$name" >&2 || true
    diff "$work/runs/linux/$name.console" "$work/runs/windows/$name.console" >&2 || true
    failed=1
  fi
done
[ $failed = 0 ] || exit 1

# The packages as a machine that never ran Wine builds them: a Wine prefix of the
# package script's own, new.
env -u WINEPREFIX "$root/scripts/package.sh"
echo "Windows checks passed in $(($(date +%s) - start)) s"
