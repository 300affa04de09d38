#!/usr/bin/env bash
# The Windows build and its tests: cross-builds corvex_tracking.dll and the
# test programs with MinGW-w64 in build-windows/ and runs them under Wine.
# Installs what is missing (tools/setup.sh, tools/setup-windows.sh; libcurl
# and GoogleTest for Windows are cached outside the clone), builds the test
# service for Linux in build/ (the end-to-end tests send to it), then runs
# CTest (build folders: tools/build-folder.sh). Works on a fresh Debian 12
# machine, as root or through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh
source tools/wine.sh

started=$(date +%s)
tools/setup.sh
prefix=$(tools/setup-windows.sh | tail -n 1)
prepared=$(date +%s)
# Full paths, as Wine's prefix and the Windows build's cache keep them.
linux_dir="$(realpath -m "$(build_folder)")"
windows_dir="$(realpath -m "$(build_folder windows)")"

# The test service runs on Linux beside the Windows tests.
cmake -S . -B "$linux_dir" -G Ninja
cmake --build "$linux_dir" --target corvex-test-service

# Wine, with a prefix in the build folder. The build runs the test programs
# too (to list their tests), so Wine is ready before it.
start_wine "$windows_dir/wine"
trap stop_wine EXIT

cmake -S . -B "$windows_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCORVEX_WINDOWS_PREFIX="$prefix" \
  -DCORVEX_TEST_SERVICE_PROGRAM="$linux_dir/tests/support/corvex-test-service"
cmake --build "$windows_dir"
built=$(date +%s)

ctest --test-dir "$windows_dir" --output-on-failure -j "$(nproc)"
finished=$(date +%s)
echo "Windows: prepared in $((prepared - started)) s, built in $((built - prepared)) s," \
  "tested in $((finished - built)) s"
