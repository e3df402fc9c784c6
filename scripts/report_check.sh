#!/usr/bin/env bash
# Renders the report of the bundled example in headless Chromium and checks, at
# window widths of 1,024 and 1,400 pixels, what a reader would see:
#   - the browser reports no error and the screenshot is not blank;
#   - the document is no wider than the window (measured by the browser, as
#     document.documentElement.scrollWidth against window.innerWidth), so the page
#     never scrolls sideways; wide tables scroll inside their own boxes;
#   - every section heading (<h2>) of the page has a link in the <nav>;
# and that the page prints to PDF. The report itself holds no script: the
# measurements run in a copy of the page with one script added at its end.
# The optional argument is a folder that keeps the screenshots and the PDF.
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
if grep -q '<script' "$work/report/report.html"; then echo "report_check: the report holds a script" >&2; exit 1; fi
mkdir "$work/profile"

# --no-sandbox: CI runs as root. The rest keeps the browser off the network.
browser() {
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/profile" --hide-scrollbars "$@" </dev/null
}
# The bus and the sandbox are not there in CI; any other error line fails the check.
check_log() {
  if grep -E 'ERROR|FATAL' "$1" | grep -vE 'dbus|bus\.cc|object_proxy' >&2; then
    echo "report_check: the browser reported an error ($2)" >&2
    exit 1
  fi
}

# The measuring copy: after the page has been laid out, the script writes what it
# measured into an element that --dump-dom prints.
measure="$work/report/measure.html"
{
  sed 's|</body></html>$||' "$work/report/report.html"
  cat <<'SCRIPT'
<script>//<![CDATA[
var d = document.documentElement, missing = [];
document.querySelectorAll("section[id]").forEach(function (s) {
  if (s.querySelector("h2") && !document.querySelector("nav a[href='#" + s.id + "']")) missing.push(s.id);
});
var out = document.createElement("pre");
out.textContent = "scroll " + d.scrollWidth + " window " + window.innerWidth + " sections " +
  document.querySelectorAll("section h2").length + " unlinked " + (missing.join(",") || "none") + " end";
document.body.appendChild(out);
//]]></script></body></html>
SCRIPT
} >"$measure"

failed=0
for width in 1024 1400; do
  browser --window-size=$width,1000 --dump-dom "file://$measure" >"$work/dom_$width.html" 2>"$work/dom_$width.log" || {
    cat "$work/dom_$width.log"; echo "report_check: the browser failed at $width px" >&2; exit 1; }
  check_log "$work/dom_$width.log" "measuring at $width px"
  line=$(grep -o 'scroll [0-9]* window [0-9]* sections [0-9]* unlinked [^ ]* end' "$work/dom_$width.html" || true)
  [ -n "$line" ] || { echo "report_check: no measurement at $width px" >&2; exit 1; }
  read -r _ scroll _ window _ sections _ unlinked _ <<<"$line"
  echo "report_check: at $width px the document is $scroll px wide in a window of $window px;" \
    "$sections sections, without a link: $unlinked"
  if [ "$scroll" -gt "$window" ]; then echo "report_check: the page scrolls sideways at $width px" >&2; failed=1; fi
  if [ "$unlinked" != none ]; then echo "report_check: sections without a link: $unlinked" >&2; failed=1; fi
  [ "$sections" -ge 10 ] || { echo "report_check: only $sections sections" >&2; failed=1; }

  browser --window-size=$width,2000 --screenshot="$work/report_$width.png" "file://$work/report/report.html" \
    >"$work/shot_$width.log" 2>&1 || { cat "$work/shot_$width.log"; echo "report_check: the browser failed" >&2; exit 1; }
  check_log "$work/shot_$width.log" "screenshot at $width px"
  python3 "$root/scripts/png_ink.py" "$work/report_$width.png" 0.03
done

browser --no-pdf-header-footer --print-to-pdf="$work/report.pdf" "file://$work/report/report.html" \
  >"$work/pdf.log" 2>&1 || { cat "$work/pdf.log"; echo "report_check: printing to PDF failed" >&2; exit 1; }
check_log "$work/pdf.log" "printing"
[ "$(head -c 5 "$work/report.pdf" 2>/dev/null)" = "%PDF-" ] || { echo "report_check: no PDF was printed" >&2; exit 1; }
# The page tree's root counts every page: the largest /Count in the file.
pages=$(grep -ao '/Count [0-9]*' "$work/report.pdf" | awk '$2 > n { n = $2 } END { print n + 0 }')
echo "report_check: printed $pages pages, $(wc -c <"$work/report.pdf") bytes"
[ "$pages" -ge 2 ] || { echo "report_check: the PDF has fewer than 2 pages" >&2; failed=1; }

if [ $# -ge 1 ]; then mkdir -p "$1" && cp "$work"/report_*.png "$work/report.pdf" "$1"/; fi
[ $failed = 0 ] || exit 1
echo "report_check: the report renders, holds at 1024 and 1400 px, links every section and prints"
