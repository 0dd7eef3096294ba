#!/usr/bin/env bash
# Peak memory of veldrano-scan against the number of files scanned. The scan
# keeps its per-size store in memory within a fixed budget (beyond it, on
# disk) and the duplicates it records in memory, so on trees without
# duplicates its peak RSS should stay flat when the files scanned grow
# fourfold. Two more trees of 100 000 files show what else moves the peak:
# one where half the files are copies (the duplicates recorded), and one
# where a quarter of the files share a single size.
#
# Trees (make_tree.py, --max-size 4096 --min-size 8: at least 8 random bytes
# a file, so no two files match by chance):
#   no duplicates  100 000 and 400 000 files, --copies 0 --same-size 0
#                  --uniform (sizes spread evenly over 8..4096)
#   half copies    100 000 files, --copies 0.5 --uniform
#   skewed sizes   100 000 files, --copies 0 --same-size 0, sizes
#                  log-uniform: every size below 8 becomes 8, a quarter of the files
#
# usage: memory.sh [--dir DIR] [--keep] [--files LIST] [--only-unique]
#   --dir DIR      scratch directory (default: $BENCH_DIR, else a new mktemp -d
#                  under /tmp); trees kept there earlier are reused
#   --keep         keep the trees and outputs
#   --files LIST   comma-separated file counts of the trees without duplicates
#                  (default 100000,400000)
#   --only-unique  leave out the half-copies and skewed-sizes trees
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

dir="" keep=0 counts="100000,400000" others=1
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --files) counts="$2"; shift 2 ;;
    --only-unique) others=0; shift ;;
    -h|--help) show_usage ;;
    *) die "unknown argument: $1" ;;
  esac
done

ensure_packages time python3
build_scanner
make_work_dir "$dir"
table="$work/out/memory.tsv"
: >"$table"

# measure LABEL NAME ARGS...: makes tree NAME, scans it once, appends a line to $table.
measure() {
  local label="$1" name="$2"; shift 2
  make_tree "$name" "$@"
  local largest
  largest="$(find "$tree" -type f -printf '%s\n' | sort -n | uniq -c | sort -rn | awk 'NR == 1 {print $1}')"
  echo "Scanning $tree..." >&2
  local tv="$work/out/time.txt" log="$work/out/$name.log" status=0 t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -v -o "$tv" env TMPDIR="$work/tmp" "$scanner" --csv "$work/out/$name.csv" "$tree" \
    >"$log" 2>"$work/out/$name.err" || status=$?
  t1=$(date +%s%N)
  [ $status -eq 0 ] || echo "  warning: veldrano-scan exited with status $status" >&2
  python3 - "$label" "$log" "$tv" "$t0" "$t1" "$status" "$largest" >>"$table" <<'PY'
import re, sys
label, log, tv, t0, t1, status, largest = sys.argv[1:]
def number(label):
    for line in open(log, encoding="utf-8", errors="replace"):
        cols = line.split("\t")
        if len(cols) > 1 and cols[1].startswith(label + ":"):
            return re.sub(r"\D", "", cols[1][len(label) + 1:]) or "?"
    return "?"
found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", open(tv).read())
rss = found.group(1) if found else "0"
print("\t".join([label, number("Files found"), number("Duplicate files"), largest, rss,
                 f"{(int(t1) - int(t0)) / 1e9:.2f}", status]))
PY
}

sizes=(--max-size 4096 --min-size 8 --seed 5)
IFS=, read -r -a file_counts <<<"$counts"
for n in "${file_counts[@]}"; do
  measure "no duplicates" "unique-$n" --files "$n" --copies 0 --same-size 0 --uniform "${sizes[@]}"
done
if [ $others -eq 1 ]; then
  measure "half copies" "copies-100000" --files 100000 --copies 0.5 --same-size 0 --uniform "${sizes[@]}"
  measure "skewed sizes" "skewed-100000" --files 100000 --copies 0 --same-size 0 "${sizes[@]}"
fi

echo
echo "veldrano-scan: $scanner (TMPDIR=$work/tmp, beside the trees)"
echo "Peak RSS: 'Maximum resident set size' of /usr/bin/time -v, one scan per tree (warm cache: just written)."
echo "Largest size set: the most files that share one size in the tree."
python3 - "$table" <<'PY'
import sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1]) if l.strip()]
n = lambda v: f"{int(v):,}".replace(",", " ") if v.isdigit() else v
print(f"  {'tree':14} {'files found':>12} {'duplicates':>11} {'largest size set':>17} {'peak RSS':>12} {'wall s':>8}")
print("  " + "-" * 79)
for label, files, dups, largest, rss, wall, status in rows:
    mark = "" if status == "0" else f"  (!) exit status {status}"
    print(f"  {label:14} {n(files):>12} {n(dups):>11} {n(largest):>17} {int(rss) / 1024:8.1f} MiB {float(wall):8.2f}{mark}")
flat = [r for r in rows if r[0] == "no duplicates" and r[1].isdigit() and r[6] == "0"]
if len(flat) >= 2:
    a, b = flat[0], flat[-1]
    files_added = int(b[1]) - int(a[1])
    grown = (int(b[4]) - int(a[4])) * 1024
    per_file = grown / files_added if files_added else 0.0
    print(f"Growth without duplicates, {n(a[1])} -> {n(b[1])} files: {grown / 2**20:+.2f} MiB "
          f"(x{int(b[4]) / int(a[4]):.2f}), {per_file:.1f} bytes per file added")
    # A record of any kind per file scanned (a path, a size) would cost tens of bytes a file.
    verdict = "MET" if per_file < 4 else "MISSED"
    print(f"Goal: peak memory grows with the duplicates recorded, not with the files scanned "
          f"(under 4 bytes per file added) -> {verdict}")
PY
