#!/usr/bin/env bash
# Builds the sanitizer configuration (AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/asan"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DQVA_SANITIZE=ON
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
