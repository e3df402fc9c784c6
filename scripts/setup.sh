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
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)  # options of tarnok prepare
if [ "${TARNOK_NEED_BENCH:-0}" = 1 ] && [ ! -f /usr/include/benchmark/benchmark.h ]; then missing+=(libbenchmark-dev); fi
if [ "${TARNOK_NEED_BENCH:-0}" = 1 ] && [ ! -x /usr/bin/time ]; then missing+=(time); fi
if [ "${TARNOK_NEED_VALGRIND:-0}" = 1 ] && ! command -v valgrind >/dev/null 2>&1; then missing+=(valgrind); fi
if [ "${TARNOK_NEED_CLANG:-0}" = 1 ]; then
  command -v clang++ >/dev/null 2>&1 || missing+=(clang)
  # libFuzzer's runtime for the fuzz targets
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || missing+=(libclang-rt-dev)
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
