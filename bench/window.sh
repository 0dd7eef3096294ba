#!/usr/bin/env bash
# The scan in the window beside the same scan in veldrano-scan, on a tree of
# 100 000 files (make_tree.py --files 100000 --max-size 65536 --depth 5
# --fanout 5), under Xvfb: the wall times and their ratio (goal: the window
# at most 1.25 x), then how soon a click on Stop is answered at several
# moments of a run (goal: within 100 ms) while the window keeps repainting,
# and how long the selection list takes to sort by each column; then, on a
# tree of 200 000 files with 100 000 duplicates, how long the window takes
# over large results (Expand all, Collapse all, locating a group, each tick
# rule, the move of the ticked files to the Trash, Clear, closing), each
# meant to stay well under a second but the move, which creates one info
# file per file moved.
#
# usage: window.sh [--dir DIR] [--keep] [--tmpfs]
#   --dir DIR   scratch directory (default: $BENCH_DIR, else a new mktemp -d)
#   --keep      keep the tree
#   --tmpfs     give both scans their TMPDIR on /dev/shm instead of beside the
#               tree (consecutive runs on ext4 slow down as its inodes churn,
#               which blurs the comparison)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

dir="" keep=0 tmpfs=0
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --tmpfs) tmpfs=1; shift ;;
    -h|--help) show_usage ;;
    *) die "unknown argument: $1" ;;
  esac
done

ensure_packages xvfb xauth python3
build_scanner
build="${VELDRANO_BUILD_DIR:-$bench_root/build}"
cmake --build "$build" --target window_bench >/dev/null || die "the build of window_bench failed"
window_bench="$build/bench/window_bench"
make_work_dir "$dir"
make_tree small --files 100000 --max-size 65536 --depth 5 --fanout 5

scan_tmp="$work/tmp"
if [ $tmpfs -eq 1 ]; then
  scan_tmp="$(mktemp -d /dev/shm/veldrano-window.XXXXXX)"
  extra_scratch+=("$scan_tmp")
fi

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; remove_scratch' EXIT
sleep 1

echo "Warming the page cache..." >&2
find "$tree" -type f -exec cat {} + >/dev/null
best() { sort -n | head -1; }
scan_times=() window_times=()
for round in 1 2 3; do
  t0=$(date +%s%N)
  TMPDIR="$scan_tmp" "$scanner" "$tree" >/dev/null
  t1=$(date +%s%N)
  scan_times+=("$(python3 -c "print(($t1 - $t0) / 1e9)")")
  window_times+=("$(DISPLAY=$display TMPDIR="$scan_tmp" "$window_bench" time "$tree" 2>/dev/null)")
done
scan=$(printf '%s\n' "${scan_times[@]}" | best)
window=$(printf '%s\n' "${window_times[@]}" | best)
echo "TMPDIR of the scans: $scan_tmp"
echo "veldrano-scan: best of 3: ${scan} s   (${scan_times[*]})"
echo "window:        best of 3: ${window} s   (${window_times[*]})"
python3 -c "r = $window / $scan; print(f'window / veldrano-scan = {r:.2f} (goal at most 1.25: {\"MET\" if r <= 1.25 else \"MISSED\"})')"
echo "Stop clicked at several moments of a run:"
DISPLAY=$display TMPDIR="$scan_tmp" "$window_bench" stop "$tree" 100 500 1000 2000 3000 4000 2>/dev/null
echo "The selection list sorted by each column, twice (a click on its header):"
DISPLAY=$display TMPDIR="$scan_tmp" "$window_bench" sort "$tree" 2>/dev/null

make_tree duplicates --files 200000 --copies 0.5 --max-size 2048 --depth 3 --fanout 8
# The move empties the tree: it works on a copy, with a Trash of its own.
rm -rf -- "$work/results-tree" "$work/results-data"
cp -a "$tree" "$work/results-tree"
mkdir -p "$work/results-data"
echo "Large results:"
DISPLAY=$display TMPDIR="$scan_tmp" XDG_DATA_HOME="$work/results-data" \
  "$window_bench" results "$work/results-tree" 2>/dev/null
rm -rf -- "$work/results-tree" "$work/results-data"
