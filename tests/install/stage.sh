#!/bin/sh
# Installs the build into a staging directory, as a package would:
# stage.sh BUILD_DIR STAGE_DIR (the files land in STAGE_DIR/usr).
set -eu
rm -rf "$2"
DESTDIR="$2" cmake --install "$1" --prefix /usr >/dev/null
