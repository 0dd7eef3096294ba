#!/bin/sh
# The installed desktop entry and metainfo pass the desktop's own checks,
# and name each other and the icon the same way:
# desktop_files_test.sh STAGE_DIR VERSION DESKTOP_ID
set -eu
stage=$1 version=$2 id=$3
share=$stage/usr/share
fail() { echo "desktop_files_test: $*" >&2; exit 1; }
for tool in desktop-file-validate:desktop-file-utils appstreamcli:appstream; do
  command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} missing: install ${tool#*:} (scripts/setup.sh does)"
done

desktop=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli rejects $metainfo"

grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
grep -qx "Exec=veldrano" "$desktop" || fail "the desktop entry does not start veldrano"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metainfo does not launch $id.desktop"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" || fail "the metainfo has no release $version"
grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "the metainfo names no MIT licence"
