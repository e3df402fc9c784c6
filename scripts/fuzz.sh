#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and fuzzes each for a bounded time, starting from the seed corpus in
# fuzz/corpus. Fails on any crash, sanitizer report, leak, file descriptor left
# open or input slower than the time-out; the failing input is kept in
# build/fuzz/artifacts/. Every file in fuzz/regressions/<target>/ is run first.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]
# Targets: profile form data run measured (default: all).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(profile form data run measured)

TARNOK_NEED_CLANG=1 "$root/scripts/setup.sh"
build="$root/build/fuzz"
mkdir -p "$build"
if ! { cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ && cmake --build "$build" -j 2; } \
    >"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log"
  echo "fuzz: building the targets failed, see $build/build.log"
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts"
status=0
printf '%-8s %10s %8s %8s %6s %s\n' target executions corpus seconds cov outcome
for t in "${targets[@]}"; do
  bin="$build/fuzz_$t"
  log="$build/fuzz_$t.log"
  if [ -d "$root/fuzz/regressions/$t" ] && [ -n "$(ls -A "$root/fuzz/regressions/$t")" ]; then
    if ! "$bin" -runs=1 "$root/fuzz/regressions/$t"/* >"$build/regressions_$t.log" 2>&1; then
      echo "$t: a regression input fails again, see $build/regressions_$t.log"
      status=1
      continue
    fi
  fi
  # The corpus grows in the build folder; the seeds in the repository stay as they are.
  work="$build/corpus/$t"
  mkdir -p "$work"
  start=$(date +%s)
  set +e
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
    "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  set -e
  elapsed=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus=$(ls "$work" | wc -l)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  if [ $rc -eq 0 ]; then
    outcome=ok
  else
    outcome="FAILED (exit $rc), see $log"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 || true
    status=1
  fi
  printf '%-8s %10s %8s %8s %6s %s\n' "$t" "${execs:-?}" "$corpus" "$elapsed" "${cov:-?}" "$outcome"
done
exit $status
