# Shared by the benchmark scripts (sourced, not run): the scanner build, the
# peer tools, the scratch directory and the tree generator.
#
# Environment:
#   BENCH_DIR            scratch directory (default: a fresh mktemp -d under /tmp)
#   VELDRANO_BUILD_DIR   build directory for veldrano-scan (default: build/)
#   VELDRANO_SCAN        use this veldrano-scan binary instead of building one
#   MAKE_TREE            the tree generator (default: bench/make_tree.py)

bench_lib="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench_root="$(cd "$bench_lib/../.." && pwd)"
make_tree_py="${MAKE_TREE:-$bench_root/bench/make_tree.py}"

die() { echo "$(basename "$0"): $*" >&2; exit 2; }

# Prints the calling script's opening comment (its usage) and ends it.
show_usage() { sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0; }

# Installs the Debian packages given, only those that are missing.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# Builds veldrano-scan (Release) unless VELDRANO_SCAN names a binary; sets $scanner.
build_scanner() {
  if [ -n "${VELDRANO_SCAN:-}" ]; then
    scanner="$(realpath "$VELDRANO_SCAN")"
    [ -x "$scanner" ] || die "VELDRANO_SCAN is not an executable: $VELDRANO_SCAN"
    return 0
  fi
  "$bench_root/scripts/setup.sh"
  local build="${VELDRANO_BUILD_DIR:-$bench_root/build}"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$bench_root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build" --target veldrano-scan >/dev/null || die "the build of veldrano-scan failed"
  scanner="$build/src/veldrano-scan"
}

# Makes the scratch directory; sets $work (absolute, symlinks resolved) and
# removes it at exit unless $keep is 1.
make_work_dir() {
  local given="${1:-${BENCH_DIR:-}}"
  if [ -n "$given" ]; then
    mkdir -p "$given"
    work="$(realpath "$given")"
  else
    work="$(mktemp -d /tmp/veldrano-bench.XXXXXX)"
  fi
  mkdir -p "$work/tmp" "$work/out" "$work/scratch"
  # veldrano's cache of hashes across runs: the scratch directory's, never
  # the user's (a script may name another one per run).
  export XDG_CACHE_HOME="$work/cache-bench"
  trap 'remove_scratch' EXIT
}

# Scratch directories made elsewhere (such as on tmpfs): always removed.
extra_scratch=()

remove_scratch() {
  local d
  for d in "${extra_scratch[@]}"; do rm -rf -- "$d"; done
  if [ "${keep:-0}" -eq 1 ]; then
    echo "Kept: $work" >&2
  else
    cleanup_work_dir
  fi
}

cleanup_work_dir() {
  # Only what these scripts make: trees, their argument stamps, tmp, out,
  # scratch, and the caches of hashes of veldrano-scan.
  local d
  for d in "$work"/*; do
    [ -e "$d" ] || continue
    case "$(basename "$d")" in
      tree-*|tree-*.args|tmp|out|scratch|cache-*) rm -rf -- "$d" ;;
    esac
  done
  rmdir -- "$work" 2>/dev/null || true
}

# make_tree NAME ARGS...: builds $work/tree-NAME with make_tree.py and sets
# $tree to its path. A tree kept from an earlier run with the same arguments is
# reused; the arguments are stamped beside the tree (not inside: it is scanned).
make_tree() {
  local name="$1"; shift
  [ -f "$make_tree_py" ] || die "tree generator not found: $make_tree_py (set MAKE_TREE)"
  tree="$work/tree-$name"
  local stamp="$work/tree-$name.args"
  if [ -d "$tree" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$*" ]; then
    echo "Reusing $tree ($*)" >&2
    return 0
  fi
  rm -rf -- "$tree" "$stamp"
  local started=$SECONDS
  echo "Making $tree ($*)..." >&2
  python3 "$make_tree_py" "$tree" "$@" >"$work/out/tree-$name.json"
  echo "  made in $((SECONDS - started)) s: $(cat "$work/out/tree-$name.json")" >&2
  printf '%s' "$*" >"$stamp"
}

# run_scanner TREE CSV LOG [more options]: veldrano-scan with its temporary
# directory beside the tree, never above it (it would skip the tree).
run_scanner() {
  local tree="$1" csv="$2" log="$3"; shift 3
  TMPDIR="$work/tmp" "$scanner" --csv "$csv" "$@" "$tree" >"$log"
}
