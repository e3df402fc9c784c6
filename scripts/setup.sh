#!/usr/bin/env bash
# Makes sure the build tools and test libraries are installed; installs the missing
# ones from Debian's packages when it may (as root or through sudo), and otherwise
# says exactly what to install.
set -euo pipefail

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
# The run record is written with nlohmann-json; the tests check the report with xmllint.
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
command -v xmllint >/dev/null 2>&1 || missing+=(libxml2-utils)
if [ "${TARNOK_NEED_BROWSER:-0}" = 1 ] && ! command -v chromium >/dev/null 2>&1; then missing+=(chromium); fi
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)  # options of tarnok prepare
# The Python package (scripts/python_test.sh): the interpreter's headers and the
# packaged pybind11 for the module, a virtual environment and pip to install it
# without downloads (setuptools and wheel build it), NumPy and pandas for its
# tables, pytest for its tests, Dask's scheduler for many fits on a cluster.
for package in python3-dev pybind11-dev python3-pybind11 python3-venv python3-pip python3-setuptools python3-wheel \
               python3-numpy python3-pandas python3-pytest python3-dask python3-distributed; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ "${TARNOK_NEED_BENCH:-0}" = 1 ] && [ ! -f /usr/include/benchmark/benchmark.h ]; then missing+=(libbenchmark-dev); fi
if [ "${TARNOK_NEED_BENCH:-0}" = 1 ] && [ ! -x /usr/bin/time ]; then missing+=(time); fi
if [ "${TARNOK_NEED_VALGRIND:-0}" = 1 ] && ! command -v valgrind >/dev/null 2>&1; then missing+=(valgrind); fi
if [ "${TARNOK_NEED_CLANG:-0}" = 1 ]; then
  command -v clang++ >/dev/null 2>&1 || missing+=(clang)
  # libFuzzer's runtime for the fuzz targets
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || missing+=(libclang-rt-dev)
fi
# The Windows program: MinGW-w64 cross compilers, GoogleTest's sources, Wine to
# run it, zip for its package.
if [ "${TARNOK_NEED_WINDOWS:-0}" = 1 ]; then
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  command -v wine >/dev/null 2>&1 || missing+=(wine)
  [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  command -v zip >/dev/null 2>&1 || missing+=(zip)
  command -v unzip >/dev/null 2>&1 || missing+=(unzip)
fi

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" = 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" </dev/null
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" </dev/null
else
  echo "Please install them first: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
