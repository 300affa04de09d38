#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
#   tools/run-tests.sh            the normal build, in build/
#   tools/run-tests.sh address    AddressSanitizer + UndefinedBehaviorSanitizer, in build-address/
#   tools/run-tests.sh thread     ThreadSanitizer, in build-thread/
# (Build folders: tools/build-folder.sh.)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

sanitize="${1:-}"
build_dir="$(build_folder "$sanitize")"

tools/setup.sh
cmake -S . -B "$build_dir" -G Ninja -DCORVEX_SANITIZE="$sanitize"
cmake --build "$build_dir"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
