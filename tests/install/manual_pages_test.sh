#!/bin/sh
# The installed manual pages format without a warning, and the page of
# veldrano-scan documents every option its --help lists:
# manual_pages_test.sh STAGE_DIR
set -eu
usr=$1/usr
fail() { echo "manual_pages_test: $*" >&2; exit 1; }
command -v man >/dev/null || fail "man missing: install man-db (scripts/setup.sh does)"

for page in veldrano veldrano-scan; do
  file=$usr/share/man/man1/$page.1.gz
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man cannot format $file: $warnings"
  [ -z "$warnings" ] || fail "$file: $warnings"
done

# In roff source a hyphen of an option is written \-.
for option in $("$usr/bin/veldrano-scan" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  gzip -dc "$usr/share/man/man1/veldrano-scan.1.gz" |
    grep -q -- "^\.[BI][BIR]* *$(echo "$option" | sed 's/-/\\\\-/g')\( \|$\)" ||
    fail "veldrano-scan.1 does not document $option"
done
