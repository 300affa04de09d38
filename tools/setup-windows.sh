#!/usr/bin/env bash
# Installs what the Windows cross-build needs and prepares its prefix:
#   - clang, lld and LLVM's tools, Debian's MinGW-w64 compilers (posix
#     threads: their C++ library and runtime) and Wine;
#   - libcurl for Windows (Schannel, static), built with clang from Debian's
#     own curl source package (its copyright record kept beside it);
#   - GoogleTest built for Windows from Debian's googletest sources;
#   - nlohmann JSON's headers and CMake files, copied beside them.
# Everything is built as cmake/mingw-w64-x86_64.cmake builds: CodeView debug
# information, the Universal C Runtime.
#
# The prefix lives outside the clone, in $CORVEX_WINDOWS_CACHE (default
# ~/.cache/corvex-windows); a second run finds libcurl and GoogleTest there and
# skips their builds. Remove the folder to build them again. Prints the prefix
# on its last line.
# Runs as root in CI; elsewhere it uses sudo for apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
source tools/curl-options.sh
source_dir="$PWD"

cache="${CORVEX_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvex-windows}"
prefix="$cache/x86_64-w64-mingw32"
target=x86_64-w64-mingw32
# Raise when the way libcurl or GoogleTest is built changes.
curl_recipe=4
googletest_recipe=3

packages=(
  cmake ninja-build make
  clang-14 lld-14 llvm-14
  g++-mingw-w64-x86-64-posix wine64
  nlohmann-json3-dev googletest dpkg-dev
)

install_missing_packages "${packages[@]}"

mkdir -p "$prefix"

# libcurl is C: it is compiled with the MinGW headers' UCRT declarations
# (_UCRT), and linked, in configure's tests, as the toolchain file links. (The
# C++ code keeps the default headers, see the toolchain file.) Its CodeView
# debug information goes to the DLL's PDB.
llvm=/usr/lib/llvm-14/bin
cc="$llvm/clang --target=$target --sysroot=/usr/$target"
cppflags="-D_UCRT"
cflags="-O2 -g -gcodeview"
gcc_dir="$(dirname "$("$target-gcc-posix" -print-libgcc-file-name)")"
ldflags="-fuse-ld=lld -L$gcc_dir -static -pthread -lucrt -Wl,-Xlink=-alternatename:_setjmp=setjmp"

build_curl() {
  local work="$cache/curl-source"
  rm -rf "$work"
  mkdir -p "$work"
  fetch_debian_source curl "$work"
  local tree
  tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'curl-*' | head -n 1)
  # Debian's last patches rename the library for its other TLS flavours;
  # undo them, newest first.
  local patch
  for patch in $(grep -l 'lib_LTLIBRARIES = libcurl-' "$tree"/debian/patches/*.patch | sort -r); do
    echo "Reversing $(basename "$patch")" >&2
    patch -d "$tree" -p1 -R -s <"$patch"
  done
  (
    cd "$tree"
    ./configure -q --host="$target" --prefix="$prefix" \
      CC="$cc" CPPFLAGS="$cppflags" CFLAGS="$cflags" LDFLAGS="$ldflags" \
      AR="$llvm/llvm-ar" RANLIB="$llvm/llvm-ranlib" \
      --with-schannel --disable-shared --enable-static "${curl_feature_options[@]}" >&2
    make -s -j"$(nproc)" -C lib >&2
    make -s -C lib install >&2
    make -s -C include install >&2
  )
  # The release's third-party notices quote the record of the source built.
  install -D -m 0644 "$tree/debian/copyright" "$prefix/share/doc/curl/copyright"
  rm -rf "$work"
}

build_googletest() {
  local work="$cache/googletest-build"
  rm -rf "$work"
  cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCORVEX_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" >&2
  cmake --build "$work" >&2
  cmake --install "$work" >&2
  rm -rf "$work"
}

build_once "$prefix/.curl-$curl_recipe" "libcurl for Windows" build_curl
build_once "$prefix/.googletest-$googletest_recipe" "GoogleTest for Windows" build_googletest

# nlohmann JSON is headers only; the cross compiler does not search
# /usr/include, so its headers and CMake package sit in the prefix. Their
# times stay Debian's, so that a build does not take them for new.
mkdir -p "$prefix/include" "$prefix/share/cmake"
rm -rf "$prefix/include/nlohmann" "$prefix/share/cmake/nlohmann_json"
cp -r --preserve=timestamps /usr/include/nlohmann "$prefix/include/"
cp -r --preserve=timestamps /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

echo "$prefix"
