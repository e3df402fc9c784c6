#!/usr/bin/env bash
# Renders the report of the bundled example in headless Chromium and checks that
# the browser reported no error and that the screenshot is not blank. The optional
# argument keeps the screenshot at that path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
TARNOK_NEED_BROWSER=1 "$root/scripts/setup.sh"
cmake --preset release -S "$root" -DTARNOK_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target tarnok -j 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ex="$root/examples/st_louis"
(cd "$work" && "$root/build/release/tarnok" --passes 100 --report report --total Mass \
  n "$ex/profile.tsv" "$ex/form.tsv" "$ex/data.tsv" result.tsv >/dev/null </dev/null)
for file in "$work/report/report.html" "$work/report/figures/"*.svg; do xmllint --noout "$file"; done
mkdir "$work/profile"
# --no-sandbox: CI runs as root. The rest keeps the browser off the network.
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/profile" --screenshot="$work/report.png" \
  --window-size=1280,2000 "file://$work/report/report.html" >"$work/browser.log" 2>&1 </dev/null || {
  cat "$work/browser.log"; echo "report_check: the browser failed" >&2; exit 1; }
# The bus and the sandbox are not there in CI; any other error line fails the check.
if grep -E 'ERROR|FATAL' "$work/browser.log" | grep -vE 'dbus|bus\.cc|object_proxy' >&2; then
  echo "report_check: the browser reported an error" >&2
  exit 1
fi
python3 "$root/scripts/png_ink.py" "$work/report.png" 0.03
if [ $# -ge 1 ]; then cp "$work/report.png" "$1"; fi
echo "report_check: the report renders"
