#!/usr/bin/env bash
# Builds tarnok with its tests and runs every test. The optional argument picks the
# build: dev (default: debug, warnings as errors) or asan (address and undefined
# behaviour sanitizers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-dev}
"$root/scripts/setup.sh"
cmake --preset "$preset" -S "$root" -DTARNOK_TESTS=ON >/dev/null
cmake --build "$root/build/$preset"
ctest --test-dir "$root/build/$preset" --output-on-failure -j 2 </dev/null
