#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest; then
# the engine and scanner tests again under the sanitizers.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
(cd "$root/build" && ctest --output-on-failure -j "$(nproc)")
"$root/scripts/sanitized_tests.sh"
