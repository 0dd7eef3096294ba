#!/usr/bin/env bash
# Builds the Debian package: a Release build of the two programs alone (no
# tests, no benchmarks) in build/package/, packed by CPack into
# build/veldrano_VERSION_ARCH.deb. Install it with
#   apt-get install ./build/veldrano_*.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$root/build/package"
"$root/scripts/setup.sh" --package
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELDRANO_BUILD_TESTS=OFF -DVELDRANO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/veldrano_*.deb "$root"/build/veldrano_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
mv "$build"/veldrano_*.deb "$root/build/"
ls -l "$root"/build/veldrano_*.deb
