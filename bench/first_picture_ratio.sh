#!/bin/sh
# Time and memory to the first painted picture of a 24-megapixel JPEG shown at
# fit in a 1600 x 1000 window, against a minimal gdk-pixbuf program that loads
# it at the fitting size, in one run: the programs run in turns, and the
# medians of their wall times (process start to exit, which each program does
# at once after its picture) are compared. Memory is the peak resident size
# (VmHWM): the view's above an empty Qt program's, gdk-pixbuf's as it is.
# Usage: bench/first_picture_ratio.sh BUILD_DIR [RUNS]
set -eu
build=${1:-build}
runs=${2:-21}
ours=$build/bench/first_picture_view
theirs=$build/bench/first_picture_pixbuf
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
file=${TMPDIR:-/tmp}/kest_first_picture_24mp.jpg
[ -f "$file" ] || "$ours" --make "$file" 6000 4000
# One start of each first, so that both find their files in the page cache.
"$ours" "$file" >/dev/null 2>&1 && "$theirs" "$file" >/dev/null
. "$(dirname "$0")/ratio_common.sh"
o=$(mktemp); t=$(mktemp); mo=$(mktemp); mt=$(mktemp); me=$(mktemp)
trap 'rm -f "$o" "$t" "$mo" "$mt" "$me"' EXIT
i=0
while [ "$i" -lt "$runs" ]; do
  timed "$o" "$ours" "$file" >> "$mo"
  timed "$t" "$theirs" "$file" >> "$mt"
  "$ours" 2>/dev/null >> "$me"
  i=$((i + 1))
done
to=$(median < "$o"); tt=$(median < "$t")
po=$(median < "$mo"); pt=$(median < "$mt"); pe=$(median < "$me")
echo "file: $file ($(stat -c %s "$file") bytes)"
echo "view: median ${to} us to the painted picture over $runs runs, peak ${po} kB"
echo "gdk-pixbuf at_scale: median ${tt} us over $runs runs, peak ${pt} kB"
echo "empty Qt program: peak ${pe} kB"
awk -v a="$to" -v b="$tt" 'BEGIN { printf "time ratio view / gdk-pixbuf: %.2f\n", a / b }'
awk -v a="$po" -v e="$pe" 'BEGIN { printf "memory above the empty Qt program: %.1f MB\n", (a - e) / 1024 }'
