#!/usr/bin/env bash
# Builds the release packages into dist/:
#   tarnok-VERSION-linux-x86_64.tar.gz   a statically linked tarnok, README, LICENSE, docs, examples
#   tarnok-VERSION-windows-x86_64.zip    tarnok.exe (MinGW-w64 cross build), the same documents and examples
# each with a .sha256 file, then unpacks each into a scratch folder and fits the
# bundled example with the unpacked program (the Windows one under Wine), which
# must give the expected result table and statistics lines byte for byte.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TARNOK_NEED_WINDOWS=1 "$root/scripts/setup.sh"
version=$(sed -n 's/^project(tarnok VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
dist="$root/dist"
mkdir -p "$dist"

cmake -S "$root" -B "$root/build/package-linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DTARNOK_WERROR=ON -DTARNOK_TESTS=OFF -DTARNOK_STATIC=ON >/dev/null
cmake --build "$root/build/package-linux" -j 2 --target tarnok
cmake --preset windows -S "$root" >/dev/null
cmake --build "$root/build/windows" -j 2 --target tarnok

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Files in a fixed order with fixed owners and times, so that one commit gives the
# same package bytes.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
fill() {  # fill FOLDER PROGRAM
  mkdir -p "$1"
  cp "$2" "$1/"
  cp "$root/README.md" "$root/LICENSE" "$1/"
  cp -r "$root/docs" "$root/examples" "$1/"
  find "$1" -exec touch -d "@$stamp" {} +
}

linux=tarnok-$version-linux-x86_64
fill "$stage/$linux" "$root/build/package-linux/tarnok"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -cf - "$linux" | gzip -n -9 >"$dist/$linux.tar.gz"

windows=tarnok-$version-windows-x86_64
fill "$stage/$windows" "$root/build/windows/tarnok.exe"
rm -f "$dist/$windows.zip"
(cd "$stage" && find "$windows" | LC_ALL=C sort | zip -q -X -9 "$dist/$windows.zip" -@)

for package in "$linux.tar.gz" "$windows.zip"; do
  (cd "$dist" && sha256sum "$package" >"$package.sha256")
done

# Smoke test: unpack, check the checksum, fit the example as the README says.
smoke() {  # smoke FOLDER COMMAND...
  local folder=$1
  shift
  # Standard output only: what Wine itself says goes to standard error.
  (cd "$folder" && "$@" --passes 56 n examples/st_louis/profile.tsv examples/st_louis/form.tsv examples/st_louis/data.tsv \
    result.tsv >console.txt 2>errors.txt </dev/null)
  cmp "$folder/result.tsv" "$root/tests/golden/st_louis_passes56.tsv"
  tail -n +9 "$folder/console.txt" | cmp - "$root/tests/golden/st_louis_passes56.console"
}
check=$(mktemp -d)
trap 'rm -rf "$stage" "$check"' EXIT
(cd "$dist" && sha256sum -c "$linux.tar.gz.sha256" "$windows.zip.sha256" >/dev/null)
tar -C "$check" -xzf "$dist/$linux.tar.gz"
smoke "$check/$linux" ./tarnok
unzip -q "$dist/$windows.zip" -d "$check"
own_wine=0
if [ -z "${WINEPREFIX:-}" ]; then  # not run from scripts/windows.sh: a Wine session of its own
  export WINEPREFIX="$check/wine" WINEDEBUG=-all DISPLAY=
  own_wine=1
  # A new prefix is prepared on its first use; prepared here, its messages stay out
  # of the program's output.
  wineboot -i >/dev/null 2>&1 </dev/null || true
fi
smoke "$check/$windows" wine ./tarnok.exe
[ "$own_wine" = 1 ] && wineserver -k
ls -l "$dist"
echo "Packages built and smoke-tested: $dist/$linux.tar.gz, $dist/$windows.zip"
