#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds the examples (the C
# demo game on corvex/tracking.h, the C++ example on corvex/tracking.hpp)
# against the installed package from outside the tree, the way a game's build
# would: once with CMake (find_package(CorvexTracking), target
# Corvex::Tracking) and once with pkg-config (corvex-tracking). Runs each
# program once. Builds the library in build/ (tools/build-folder.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

build_dir="$(build_folder)"
tools/setup.sh
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir" --target corvex_tracking

work="$(mktemp -d "${TMPDIR:-/tmp}/corvex-install.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix"
echo "== Installed into $prefix:"
(cd "$prefix" && find . -type f -o -type l | sort)

# The programs keep their save folder in the temporary folder, not in the
# user's own.
export LOCALAPPDATA="$work/appdata"

# Only the copied sources: nothing of the tree is in reach.
cp -r examples "$work/examples"
echo "== CMake: find_package(CorvexTracking)"
cmake -S "$work/examples" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/cmake-build"
"$work/cmake-build/corvex-example" | grep "^Corvex Tracking "

echo "== pkg-config corvex-tracking"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/share/pkgconfig"
libdir="$(pkg-config --variable=libdir corvex-tracking)"
read -r -a flags <<<"$(pkg-config --cflags --libs corvex-tracking)"
mkdir -p "$work/pkg-config-build"
c++ -std=c++17 -Wall -Wextra -Werror -pedantic "$work/examples/example.cpp" "${flags[@]}" \
  -Wl,-rpath,"$libdir" -o "$work/pkg-config-build/corvex-example"
cc -std=c99 -Wall -Wextra -Werror "$work/examples/demo_game.c" "${flags[@]}" \
  -Wl,-rpath,"$libdir" -o "$work/pkg-config-build/corvex-demo-game"
"$work/pkg-config-build/corvex-example" | grep "^Corvex Tracking "
"$work/pkg-config-build/corvex-demo-game" --save "$work/demo-save" | grep "^tracked "
echo "== The installed package builds and runs with CMake and with pkg-config."
