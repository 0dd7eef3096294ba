#!/bin/sh
# Renders the application icon, hicolor/scalable/apps/org.veldrano.Veldrano.svg,
# into the PNG sizes of the hicolor theme beside it. Needs rsvg-convert
# (Debian package librsvg2-bin); the build installs the committed PNGs and
# needs neither this script nor the tool.
set -eu
cd "$(dirname "$0")"
id=org.veldrano.Veldrano
command -v rsvg-convert >/dev/null || { echo "make_icons.sh: rsvg-convert missing (apt-get install librsvg2-bin)" >&2; exit 1; }
for size in 16 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "hicolor/scalable/apps/$id.svg" -o "hicolor/${size}x${size}/apps/$id.png"
done
