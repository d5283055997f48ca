#!/bin/sh
# Times the viewer's start against a comparable plain Qt window in one run:
# both programs start, show their window with the sample picture, paint it
# once and end; they run in turns, and the medians of their wall times are
# compared. Usage: bench/startup_ratio.sh BUILD_DIR [RUNS]
set -eu
build=${1:-build}
runs=${2:-20}
ours=$build/bench/startup_viewer
theirs=$build/bench/startup_qt
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# One start of each first, so that both find their files in the page cache.
"$ours" 2>/dev/null && "$theirs" 2>/dev/null
. "$(dirname "$0")/ratio_common.sh"
o=$(mktemp); t=$(mktemp)
trap 'rm -f "$o" "$t"' EXIT
i=0
while [ "$i" -lt "$runs" ]; do
  timed "$o" "$ours"
  timed "$t" "$theirs"
  i=$((i + 1))
done
mo=$(median < "$o"); mt=$(median < "$t")
echo "viewer start: median ${mo} us over $runs runs"
echo "Qt window start: median ${mt} us over $runs runs"
awk -v a="$mo" -v b="$mt" 'BEGIN { printf "ratio viewer / Qt: %.2f\n", a / b }'
