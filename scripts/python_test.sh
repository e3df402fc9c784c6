#!/usr/bin/env bash
# Installs the Python package into a virtual environment that sees Debian's
# packages (build/python-venv; nothing is downloaded) and runs its tests against
# the console program of the given build (default: the dev build). A failing
# test fails the script.
#
# Usage: scripts/python_test.sh [console program]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/dev/tarnok}
venv="$root/build/python-venv"
[ -x "$venv/bin/python" ] || /usr/bin/python3 -m venv --system-site-packages "$venv"
cd "$root"
TARNOK_CMAKE_ARGS="-DTARNOK_WERROR=ON ${TARNOK_CMAKE_ARGS:-}" \
  "$venv/bin/python" -m pip install --no-build-isolation --no-index --quiet "$root"
# From outside the source tree, so that the installed package is the one tested.
cd "$root/build"
TARNOK_PROGRAM="$program" "$venv/bin/python" -m pytest -q -p no:cacheprovider -c "$root/pyproject.toml" \
  --rootdir "$root" "$root/python/tests" </dev/null
