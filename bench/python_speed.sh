#!/usr/bin/env bash
# A fit from Python against the console program on the medium benchmark problem
# (10,000 records x 40 variables x 8 factors, bench/make_data), and two Python
# threads fitting two such problems against one after the other
# (bench/python_speed.py says what is timed). Prints a table of median wall and
# user (CPU) seconds and both ratios (python/console, at most 1.05 wanted; two
# threads over one after the other, at most 0.6 wanted on 2 cores). Builds the
# release program and the generator, installs the package into build/python-venv.
#
# Usage: bench/python_speed.sh [passes] [repeats]     (default: 20 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
passes=${1:-20}
repeats=${2:-5}
build="$root/build/release"
data="$root/build/bench-data"
cmake --preset release -S "$root" -DTARNOK_TESTS=ON -DTARNOK_BENCH=ON >/dev/null
cmake --build "$build" -j 2 --target tarnok make_data >/dev/null
for seed in 1 2; do
  [ -f "$data/python-medium-$seed/data.tsv" ] && continue
  mkdir -p "$data/python-medium-$seed"
  "$build/bench/make_data" 10000 40 8 "$seed" "$data/python-medium-$seed" >/dev/null
done
venv="$root/build/python-venv"
[ -x "$venv/bin/python" ] || /usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install --no-build-isolation --no-index --quiet "$root"
cd "$root/build"
"$venv/bin/python" "$root/bench/python_speed.py" "$build/tarnok" "$data/python-medium-1" "$data/python-medium-2" \
  --passes "$passes" --repeats "$repeats"
