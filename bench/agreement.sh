#!/usr/bin/env bash
# Checks that veldrano-scan finds exactly the duplicate groups fdupes finds, on
# generated trees: a plain one, one with awkward names (blanks, ';', '&', '<',
# non-ASCII, leading '-', long names, deep nesting) and one with symbolic links
# and a FIFO among the files (neither may count: only regular files do, links
# are not followed). Both tools get the same absolute tree path; groups are
# compared as sets of sets of paths. The CSV's MD5 column is recomputed and the
# log's summary lines are checked against the tree and the CSV.
#
# Empty files: both sides count them as duplicates of one another (fdupes does
# so unless given -n), so they are part of the comparison.
#
# usage: agreement.sh [--dir DIR] [--keep] [--files N]
#   --dir DIR   scratch directory for the trees (default: $BENCH_DIR, else a new
#               mktemp -d under /tmp); trees kept there earlier are reused
#   --keep      keep the trees and outputs
#   --files N   files per tree (default 3000)
# Exit status: 0 when every tree agrees, 1 otherwise.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

dir="" keep=0 files=3000
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --files) files="$2"; shift 2 ;;
    -h|--help) show_usage ;;
    *) die "unknown argument: $1" ;;
  esac
done

ensure_packages fdupes python3
build_scanner
make_work_dir "$dir"
groups="$bench_lib/groups.py"

echo "veldrano-scan: $scanner"
echo "fdupes:        $(fdupes --version)"
echo "scratch:       $work (veldrano-scan runs with TMPDIR=$work/tmp, beside the trees)"
echo

failed=0
check_tree() {
  local name="$1" tree="$2"
  local csv="$work/out/$name.csv" log="$work/out/$name.log" fd="$work/out/$name.fdupes"
  echo "== $name: $tree"
  local status=0
  TMPDIR="$work/tmp" timeout 600 "$scanner" --csv "$csv" "$tree" >"$log" || status=$?
  if [ $status -ne 0 ]; then
    echo "FAIL: veldrano-scan exited with status $status (124: timed out)"
    failed=1
    return
  fi
  fdupes -r -q "$tree" >"$fd" || { echo "FAIL: fdupes exited with status $?"; failed=1; return; }
  python3 "$groups" agree "$csv" "$fd" --log "$log" --tree "$tree" --verify-md5 || failed=1
  echo
}

make_tree plain --files "$files" --max-size 65536 --seed 1
check_tree plain "$tree"

make_tree awkward --files "$files" --max-size 65536 --depth 7 --fanout 4 --seed 3 --awkward
check_tree awkward "$tree"

# Links and a FIFO beside the files: a link to a file that has copies, a link
# to a directory, a dangling link, a FIFO (opening it for reading would
# block a scanner that takes it for a file), and hard links (one file under
# two names frees nothing when one goes: fdupes leaves them out too).
make_tree links --files 500 --max-size 65536 --seed 4
linked_file="$(cd "$tree" && find . -type f -size +0 -name '*.bin' | sort | head -1)"
ln -sfn "$tree/$linked_file" "$tree/link-to-file.bin"
ln -sfn "$(cd "$tree" && find . -mindepth 1 -maxdepth 1 -type d | sort | head -1)" "$tree/link-to-dir"
ln -sfn "$tree/no-such-file" "$tree/dangling-link.bin"
[ -p "$tree/fifo.bin" ] || mkfifo "$tree/fifo.bin"
ln -f "$tree/$linked_file" "$tree/hard-link.bin"
hard_linked="$(cd "$tree" && find . -type f -size +0 -name '*.bin' | sort | sed -n 2p)"
ln -f "$tree/$hard_linked" "$tree/hard-link-2.bin"
check_tree links "$tree"

if [ $failed -eq 0 ]; then
  echo "PASS: veldrano-scan and fdupes agree on every tree"
else
  echo "FAIL: veldrano-scan and fdupes disagree (see above)"
fi
exit $failed
