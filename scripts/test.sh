#!/usr/bin/env bash
# Builds tarnok with its tests and runs every test. The optional argument picks the
# build: dev (default: debug, warnings as errors) or asan (address and undefined
# behaviour sanitizers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-dev}
"$root/scripts/setup.sh"
cd "$root"
cmake --preset "$preset" -DTARNOK_TESTS=ON >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" </dev/null
