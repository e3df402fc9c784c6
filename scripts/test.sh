#!/usr/bin/env bash
# Builds tarnok with its tests and runs every test. The optional argument picks the
# build: dev (default: debug, warnings as errors) or asan (address and undefined
# behaviour sanitizers). After the C++ tests, the dev build also runs the Python
# package's tests (scripts/python_test.sh); a failure there fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-dev}
"$root/scripts/setup.sh"
cd "$root"
cmake --preset "$preset" -DTARNOK_TESTS=ON >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" </dev/null
if [ "$preset" = dev ]; then
  "$root/scripts/python_test.sh" "$root/build/dev/tarnok"
else
  # The module is not built with the sanitizers: a sanitized module would need
  # the sanitizer runtime preloaded into the interpreter.
  echo "test.sh: the Python tests run with the dev build only"
fi
