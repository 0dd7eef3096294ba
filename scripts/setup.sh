#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Works as root (no sudo needed) or through sudo for another user.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev        # the window (Qt 6 Widgets) and its tests (Qt Test)
  libjpeg62-turbo-dev # the About window's picture
  libssl-dev          # benchmarks only: OpenSSL's MD5 as the yardstick
)

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
