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

# Wine: a prefix of its own in the build folder, no display, no debug output,
# no offer to install Mono or Gecko. The build runs the test programs too (to
# list their tests), so Wine is ready before it. A server that stays up and a
# prefix booted once keep each test from waiting on Wine's start-up.
wine_dir=/usr/lib/wine
export WINEPREFIX="$windows_dir/wine"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$WINEPREFIX"
"$wine_dir/wineserver" -p
trap '"$wine_dir/wineserver" -k 2>/dev/null || true' EXIT
"$wine_dir/wine64" wineboot --init </dev/null >/dev/null 2>&1
# Windows 10, the product's platform (Debian's Wine sets up Windows 7).
"$wine_dir/wine64" winecfg -v win10 </dev/null >/dev/null 2>&1

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
