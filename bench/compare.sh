#!/usr/bin/env bash
# Times veldrano-scan beside fdupes, jdupes and rmlint in one run, on
# generated trees: many small files and few large ones by default. For each tool: the
# best wall time of N runs (tools interleaved round by round), the CPU time of
# that run, the peak RSS (/usr/bin/time -v), and the groups found as a check
# that every tool did the same job. Goals: on the small-file tree no slower
# than jdupes, on the large-file tree no slower than fdupes.
#
# Every tool counts empty files as duplicates of one another, as veldrano-scan
# does: fdupes by default, jdupes with -z, rmlint with --size 0 (and -T df so
# it looks for duplicate files only, not other lint). Each writes its groups to
# a file: veldrano-scan --csv, fdupes/jdupes on stdout, rmlint -o fdupes:FILE
# (run in a scratch directory; it writes nothing else). Tools run with their
# defaults otherwise: fdupes and jdupes confirm matches byte by byte, rmlint
# hashes with several threads.
#
# veldrano-scan's TMPDIR is a directory beside the trees, on their file
# system, as a default /tmp on the same disk would be. Then, per tree,
# veldrano-scan runs N times back to back (a file system slowed down by what
# earlier runs left to do shows as a spread), and its release ("Releasing
# resources..." to "Ready!") is timed.
#
# veldrano-scan keeps the hashes it reads in a cache across runs; here that
# cache is always one of the scratch directory's, never the user's. The
# plain veldrano-scan runs start from an empty cache (a first run, which
# also writes it). --cached adds two more: veldrano@cached, a second run
# with the cache a first run left (made once per tree, untimed), and
# veldrano@nocache, with --no-cache (neither read nor written).
#
# Warm cache by default: every tree is read before each timed run of every
# tool (a kernel that pages out idle memory, as DAMON's "pageout" does on
# some virtual machines, takes the page cache back between runs otherwise).
# --cold drops the page cache (and the cached inodes and directories) before
# every run of every tool instead, which needs root (or sudo); compare the
# medians then, as single cold runs vary.
#
# usage: compare.sh [--runs N] [--dir DIR] [--keep] [--trees LIST] [--tmpfs] [--memory]
#                   [--back-to-back N] [--cold] [--cached]
#   --runs N      timed runs per tool and tree (default 3)
#   --dir DIR     scratch directory (default: $BENCH_DIR, else a new mktemp -d
#                 under /tmp); trees kept there earlier are reused
#   --keep        keep the trees and outputs
#   --trees LIST  comma-separated, from: small (100 000 files up to 64 KiB),
#                 large (300 files up to 64 MiB), samesize (20 000 different
#                 files of 4 096 bytes), million (1 000 000 files up to 8 KiB)
#                 (default small,large)
#   --tmpfs       also time veldrano-scan with its temporary directory (the
#                 store it keeps files in by size) on tmpfs, /dev/shm: shows
#                 what the file system under TMPDIR costs
#   --back-to-back N  consecutive runs of veldrano-scan per tree (default 5, 0: none)
#   --cold        drop the page cache before every timed run
#   --cached      also time veldrano-scan's second run with its cache of
#                 hashes (veldrano@cached) and a run with --no-cache
#   --memory      then run bench/memory.sh (peak memory against files scanned)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

runs=3 dir="" keep=0 trees="small,large" memory=0 tmpfs=0 back_to_back=5 cold=0 cached=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --trees) trees="$2"; shift 2 ;;
    --memory) memory=1; shift ;;
    --tmpfs) tmpfs=1; shift ;;
    --back-to-back) back_to_back="$2"; shift 2 ;;
    --cold) cold=1; shift ;;
    --cached) cached=1; shift ;;
    -h|--help) show_usage ;;
    *) die "unknown argument: $1" ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "--runs needs a positive number"
[[ "$back_to_back" =~ ^[0-9]+$ ]] || die "--back-to-back needs a number"

ensure_packages fdupes jdupes rmlint time python3
build_scanner
make_work_dir "$dir"
results="$work/out/results.tsv" counts="$work/out/counts.tsv" tree_list="$work/out/trees.tsv"
series="$work/out/back-to-back.tsv"
: >"$results"; : >"$counts"; : >"$tree_list"; : >"$series"
tools=(veldrano-scan fdupes jdupes rmlint)
if [ $tmpfs -eq 1 ]; then
  [ -d /dev/shm ] && [ -w /dev/shm ] || die "--tmpfs needs a writable /dev/shm"
  shm="$(mktemp -d /dev/shm/veldrano-bench.XXXXXX)"
  extra_scratch+=("$shm")
  tools=(veldrano-scan veldrano@tmpfs fdupes jdupes rmlint)
fi
[ $cached -eq 0 ] || tools=("${tools[0]}" veldrano@cached veldrano@nocache "${tools[@]:1}")

# run_tool TOOL TREE OUTPUT: one run, output to OUTPUT, resource usage to $work/out/time.txt.
run_tool() {
  local tool="$1" tree="$2" output="$3" tv="$work/out/time.txt"
  case "$tool" in
    veldrano-scan)
      rm -rf "$work/cache-first"  # a first run: nothing cached yet
      /usr/bin/time -v -o "$tv" env TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache-first" "$scanner" --csv "$output" \
        "$tree" >"$output.log" 2>"$output.err" ;;
    veldrano@cached)
      /usr/bin/time -v -o "$tv" env TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache-kept" "$scanner" --csv "$output" \
        "$tree" >"$output.log" 2>"$output.err" ;;
    veldrano@nocache)
      /usr/bin/time -v -o "$tv" env TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache-none" "$scanner" --no-cache \
        --csv "$output" "$tree" >"$output.log" 2>"$output.err" ;;
    veldrano@tmpfs)
      rm -rf "$work/cache-first"
      /usr/bin/time -v -o "$tv" env TMPDIR="$shm" XDG_CACHE_HOME="$work/cache-first" "$scanner" --csv "$output" \
        "$tree" >"$output.log" 2>"$output.err" ;;
    fdupes) /usr/bin/time -v -o "$tv" fdupes -r -q "$tree" >"$output" 2>"$output.err" ;;
    jdupes) /usr/bin/time -v -o "$tv" jdupes -r -q -z "$tree" >"$output" 2>"$output.err" ;;
    rmlint)
      (cd "$work/scratch" &&
        exec /usr/bin/time -v -o "$tv" rmlint -T df --size 0 -o fdupes:"$output" "$tree" \
          >"$output.log" 2>"$output.err") ;;
  esac
}

# Empties the page cache, and the inodes and directories cached, so that the
# next run reads everything from the disk.
drop_caches() {
  sync
  if [ "$(id -u)" -eq 0 ]; then
    echo 3 >/proc/sys/vm/drop_caches
  else
    echo 3 | sudo tee /proc/sys/vm/drop_caches >/dev/null
  fi
}

# Reads every file of a tree, so that the next run finds it in memory.
warm_tree() {
  find "$1" -type f -exec cat {} + >/dev/null
}

# timed_run TREE_NAME TOOL RUN TREE: appends one line to $results.
timed_run() {
  local name="$1" tool="$2" run="$3" tree="$4"
  if [ "$cold" -eq 1 ]; then drop_caches; else warm_tree "$tree"; fi
  local output="$work/out/$name.$tool.out" tv="$work/out/time.txt" status=0 t0 t1
  t0=$(date +%s%N)
  run_tool "$tool" "$tree" "$output" || status=$?
  t1=$(date +%s%N)
  local rss cpu
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$tv")
  cpu=$(awk -F': ' '/User time \(seconds\)/ {u=$2} /System time \(seconds\)/ {s=$2} END {print u+s}' "$tv")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$tool" "$run" \
    "$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", (b - a) / 1e9}')" "${rss:-0}" "${cpu:-0}" "$status" >>"$results"
  [ "$status" -eq 0 ] || echo "  warning: $tool exited with status $status (see $output.err)" >&2
}

echo "veldrano-scan: $scanner"
echo "peers:         $(fdupes --version), $(jdupes --version | head -1), $(rmlint --version 2>&1 | head -1 | cut -d' ' -f1-2)"
echo "machine:       $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 2^20}' /proc/meminfo) RAM"
# A kernel that pages out memory left untouched for a while (DAMON's
# "pageout" action, as some virtual machines run it) takes back the page
# cache between runs: "warm" runs then read part of each tree from disk, for
# every tool, and times spread.
for scheme in /sys/kernel/mm/damon/admin/kdamonds/*/contexts/*/schemes/*; do
  kdamond=${scheme%%/contexts/*}
  if [ "$(cat "$scheme/action" 2>/dev/null)" = pageout ] && [ "$(cat "$kdamond/state" 2>/dev/null)" = on ]; then
    echo "warning:       DAMON pages out idle memory here: each warm run reads its tree first, and times spread"
    break
  fi
done
echo "scratch:       $work"
echo

IFS=, read -r -a tree_names <<<"$trees"
for name in "${tree_names[@]}"; do
  case "$name" in
    small) args=(--files 100000 --max-size 65536 --depth 5 --fanout 5) ;;
    large) args=(--files 300 --max-size 67108864 --seed 2) ;;
    samesize) args=(--files 20000 --one-size 4096 --copies 0 --same-size 0) ;;
    million) args=(--files 1000000 --max-size 8192 --depth 5 --fanout 5) ;;
    *) die "unknown tree: $name (small, large, samesize, million)" ;;
  esac
  make_tree "$name" "${args[@]}"
  printf '%s\t%s\t%s\n' "$name" "${args[*]}" "$(cat "$work/out/tree-$name.json")" >>"$tree_list"
  if [ "$cold" -eq 0 ]; then
    echo "Tree '$name': warming the page cache (reading every file)..." >&2
    warm_tree "$tree"
  fi
  if [ $cached -eq 1 ]; then
    echo "Tree '$name': a first run of veldrano-scan to fill the cache of veldrano@cached..." >&2
    rm -rf "$work/cache-kept"
    TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache-kept" "$scanner" "$tree" >/dev/null 2>&1 || true
  fi
  for ((run = 1; run <= runs; run++)); do
    for tool in "${tools[@]}"; do
      echo "Tree '$name': run $run/$runs: $tool..." >&2
      timed_run "$name" "$tool" "$run" "$tree"
    done
  done
  if [ "$back_to_back" -gt 0 ]; then
    times=()
    for ((run = 1; run <= back_to_back; run++)); do
      echo "Tree '$name': back-to-back run $run/$back_to_back of veldrano-scan..." >&2
      if [ "$cold" -eq 1 ]; then drop_caches; else warm_tree "$tree"; fi
      t0=$(date +%s%N)
      TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache-none" "$scanner" --no-cache "$tree" >/dev/null 2>&1 || true
      t1=$(date +%s%N)
      times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", (b - a) / 1e9}')")
    done
    release="$(TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache-none" python3 "$bench_lib/release_time.py" "$scanner" \
      --no-cache "$tree")"
    printf '%s\t%s\t%s\n' "$name" "$release" "${times[*]}" >>"$series"
  fi
  for tool in "${tools[@]}"; do
    format=fdupes
    [[ "$tool" = veldrano* ]] && format=csv
    printf '%s\t%s\t%s\n' "$name" "$tool" \
      "$(python3 "$bench_lib/groups.py" count "$format" "$work/out/$name.$tool.out" | tr ' ' '\t')" >>"$counts"
  done
done

echo
if [ "$cold" -eq 1 ]; then
  echo "Cold page cache: dropped before every run of every tool (compare the medians)."
else
  echo "Warm page cache (the tree read before every timed run)."
fi
echo "Wall time: best of $runs runs, tools interleaved round by round. CPU: user+sys of that run."
echo "Peak RSS: the largest 'Maximum resident set size' of /usr/bin/time -v over the runs."
echo "veldrano/peer: veldrano-scan's best wall time over the peer's (below 1: veldrano-scan is faster)."
echo "groups, dup files: duplicate groups and files in them, read from each tool's output."
[ $tmpfs -eq 1 ] && echo "veldrano@tmpfs: veldrano-scan with TMPDIR on tmpfs ($shm) instead of $work/tmp."
[ $cached -eq 1 ] && echo "veldrano-scan: a first run (empty cache of hashes); veldrano@cached: the second run; veldrano@nocache: --no-cache."
echo
goals=(--goal small:jdupes --goal large:fdupes --goal samesize:jdupes --goal million:jdupes)
python3 "$bench_lib/timing_table.py" "$results" "$counts" "$tree_list" "${goals[@]}"
if [ -s "$series" ]; then
  echo
  echo "veldrano-scan run $back_to_back times back to back (TMPDIR beside the tree), and its release:"
  python3 - "$series" <<'PY'
import sys
for line in open(sys.argv[1]):
    tree, release, times = line.rstrip("\n").split("\t")
    t = [float(x) for x in times.split()]
    print(f"  {tree:10} runs (s): {' '.join(f'{x:.2f}' for x in t)}   slowest/fastest: {max(t) / min(t):.2f}"
          f"   release: {release} s")
PY
fi

if [ $memory -eq 1 ]; then
  memory_args=(--dir "$work/memory")
  [ $keep -eq 1 ] && memory_args+=(--keep)
  "$bench_root/bench/memory.sh" "${memory_args[@]}"
fi
