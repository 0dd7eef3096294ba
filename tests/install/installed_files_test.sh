#!/bin/sh
# Every installed file where the desktop looks for it, and nothing else:
# installed_files_test.sh STAGE_DIR VERSION DESKTOP_ID
set -eu
stage=$1 version=$2 id=$3
usr=$stage/usr
fail() { echo "installed_files_test: $*" >&2; exit 1; }

sizes="16 24 32 48 64 128 256"
expected="bin/veldrano
bin/veldrano-scan
share/applications/$id.desktop
share/metainfo/$id.metainfo.xml
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/veldrano.1.gz
share/man/man1/veldrano-scan.1.gz
share/doc/veldrano/copyright"
for size in $sizes; do expected="$expected
share/icons/hicolor/${size}x${size}/apps/$id.png"; done
actual=$(cd "$usr" && find . -type f | sed 's|^\./||' | sort)
expected=$(echo "$expected" | sort)
[ "$actual" = "$expected" ] || fail "installed files differ from the expected ones (< expected, > installed):
$(printf '%s\n' "$expected" >"$stage.expected"; printf '%s\n' "$actual" | diff "$stage.expected" - || true)"

for program in veldrano veldrano-scan; do [ -x "$usr/bin/$program" ] || fail "$program is not executable"; done
[ "$("$usr/bin/veldrano-scan" --version)" = "veldrano-scan $version" ] || fail "veldrano-scan --version is not $version"
# Without a display too.
[ "$(env -i "$usr/bin/veldrano" --version)" = "veldrano $version" ] || fail "veldrano --version is not $version"

# Each PNG is as large as the folder it is in says (width and height are
# the big-endian words at bytes 16 and 20 of the file).
for size in $sizes; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ "$(od -An -tx1 -j1 -N3 "$png" | tr -d ' ')" = 504e47 ] || fail "$png is not a PNG"
  dimensions=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
  [ "$dimensions" = "${size}x${size}" ] || fail "$png is $dimensions"
done
grep -q "<svg" "$usr/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"
# The licence: MIT, in Debian's machine-readable copyright format.
head -n 1 "$usr/share/doc/veldrano/copyright" | grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
  fail "the copyright file is not in Debian's machine-readable format"
grep -q "^License: MIT$" "$usr/share/doc/veldrano/copyright" || fail "the copyright file names no MIT licence"
