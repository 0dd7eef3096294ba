#!/usr/bin/env bash
# Builds the engine, its tests and the headless scanner with AddressSanitizer
# and UndefinedBehaviorSanitizer into build-sanitize/, and runs the engine and
# scanner tests there. Any report fails the run. (The window's tests run in
# the ordinary build only: Qt's own libraries are not instrumented.)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-sanitize"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELDRANO_SANITIZE=ON >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target engine_tests cli_tests veldrano-scan
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
echo "Engine and scanner tests under AddressSanitizer and UndefinedBehaviorSanitizer:"
"$build/tests/engine_tests" --gtest_brief=1
"$build/tests/cli_tests" --gtest_brief=1
