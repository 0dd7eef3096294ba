#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program. Given directories,
# it scans them with the headless scanner (options of veldrano-scan may come
# before them, e.g. ./run.sh --csv out.csv ~/Pictures).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
if [ $# -gt 0 ]; then
  exec "$root/build/src/veldrano-scan" "$@"
fi
echo "Built in $root/build. The window is not part of this build yet;"
echo "give directories to scan them: ./run.sh DIR..."
