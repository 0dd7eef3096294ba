#!/usr/bin/env bash
# Times each action on the ticked files of 20 000 pairs of small files (up
# to 8 KiB, random bytes, every file a copy of one other): the move to the
# Trash, hard links, symbolic links (absolute and relative), shared blocks
# (where the file system of the scratch directory can; elsewhere every file
# stays with a warning, which still times the proof), the move to a folder,
# each action's dry run, and the undo of each. Each run gets a fresh copy of
# the tree; the time of an action is that of veldrano-scan with it less the
# median time of the same scan without one (the page cache warm).
#
# usage: actions.sh [--dir DIR] [--pairs N] [--runs N] [--keep]
#   --dir DIR    scratch directory (default: $BENCH_DIR, else a new mktemp -d);
#                keep it on the disk to be measured, not on tmpfs
#   --pairs N    pairs of copies (default 20000)
#   --runs N     runs per action (default 3; the median is shown)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

dir="" keep=0 pairs=20000 runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir="$2"; shift 2 ;;
    --pairs) pairs="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) show_usage ;;
    *) die "unknown argument: $1" ;;
  esac
done

build_scanner
make_work_dir "$dir"
master="$work/scratch/master"
if [ ! -d "$master" ]; then
  python3 - "$master" "$pairs" <<'PY'
import os, random, sys
root, pairs = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
for i in range(pairs):
    folder = os.path.join(root, "d%03d" % (i % 200))
    os.makedirs(folder, exist_ok=True)
    data = rng.randbytes(rng.randint(1, 8192))
    for copy in ("a", "b"):
        with open(os.path.join(folder, "%s%05d" % (copy, i)), "wb") as f:
            f.write(data)
PY
fi
export XDG_DATA_HOME="$work/scratch/data" XDG_STATE_HOME="$work/scratch/state"

# seconds of one run of veldrano-scan with the options given, on a fresh copy
timed() {
  rm -rf -- "$work/scratch/tree" "$work/scratch/aside" "$XDG_DATA_HOME" "$XDG_STATE_HOME"
  cp -a "$master" "$work/scratch/tree"
  sync
  local start end
  start=$(date +%s.%N)
  TMPDIR="$work/tmp" "$scanner" "$@" "$work/scratch/tree" >"$work/out/actions.log" || true
  end=$(date +%s.%N)
  if [ "${undo:-0}" -eq 1 ]; then
    start=$(date +%s.%N)
    "$scanner" --undo-last >"$work/out/undo.log" || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc
    return
  fi
  echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
series() { local i; for ((i = 0; i < runs; i++)); do timed "$@"; done | median; }

base=$(series)
printf '%-28s %8s %10s\n' "action on $pairs files" "seconds" "per file"
row() {
  local name="$1"; shift
  local t; t=$(series "$@")
  printf '%-28s %8.3f %8.1f us\n' "$name" "$(echo "$t - $base" | bc)" "$(echo "($t - $base) * 1000000 / $pairs" | bc -l)"
}
row "scan alone (subtracted)" ; echo "  scan alone: $base s"
row "Trash" --trash-ticked
row "hard links" --link-ticked hard
row "symbolic links" --link-ticked symbolic
row "relative symbolic links" --link-ticked relative
row "shared blocks" --share-ticked
row "move to a folder" --move-ticked "$work/scratch/aside"
row "dry run (hard links)" --link-ticked hard --dry-run
undo=1
printf '%-28s %8.3f s\n' "undo of the Trash" "$(series --trash-ticked)"
printf '%-28s %8.3f s\n' "undo of hard links" "$(series --link-ticked hard)"
printf '%-28s %8.3f s\n' "undo of the move" "$(series --move-ticked "$work/scratch/aside")"
