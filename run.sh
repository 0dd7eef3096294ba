#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Given arguments
# and no display, it scans with the headless scanner instead (options of
# veldrano-scan may come first: ./run.sh --csv out.csv ~/Pictures).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
if [ $# -gt 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec "$root/build/src/veldrano-scan" "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to show the window on; give directories to scan them: ./run.sh DIR..." >&2
  exit 2
fi
exec "$root/build/src/veldrano"
