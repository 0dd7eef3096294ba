#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
echo "Built the engine library and its tests in $root/build."
echo "The window and the headless scanner are not part of this build yet."
