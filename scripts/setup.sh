#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Works as root (no sudo needed) or through sudo for another user.
#   setup.sh            for developing: the programs, their tests and benchmarks
#   setup.sh --package  for ./package.sh: the programs and the packaging tools
set -euo pipefail

# What building the two programs for use needs.
build=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev        # the window (Qt 6 Widgets) and its tests (Qt Test)
  libjpeg62-turbo-dev # the About window's picture
  nlohmann-json3-dev  # saved results (JSON Lines): written and read by a well-kept parser
  libsqlite3-dev      # the cache of file hashes kept across runs
)
# Tests and benchmarks.
develop=(
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev          # benchmarks only: OpenSSL's MD5 as the yardstick
  desktop-file-utils appstream man-db # the checks of the installed desktop entry, metainfo and manual pages
  strace              # scanner tests that hold system calls back: to stop a run in the middle, to stage races
  btrfs-progs         # the test of shared blocks makes a small btrfs image (skipped where no loop device can be had)
)
# The Debian package: CPack finds the programs' libraries with file and
# dpkg-shlibdeps (dpkg-dev).
package=(dpkg-dev file)

case "${1:-}" in
  --package) packages=("${build[@]}" "${package[@]}") ;;
  "") packages=("${build[@]}" "${develop[@]}") ;;
  *) echo "usage: setup.sh [--package]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
