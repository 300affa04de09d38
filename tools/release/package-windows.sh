#!/usr/bin/env bash
# Builds DIST/corvex-tracking-VERSION-windows-x64.zip, the Windows SDK:
#   tools/release/package-windows.sh DIST VERSION
# Its one folder, corvex-tracking-VERSION-windows-x64/, holds what the Windows
# build installs (bin/: the DLL and its PDB; lib/: corvex_tracking.lib for
# Visual Studio, libcorvex_tracking.dll.a for MinGW, the CMake package and the
# pkg-config file; include/corvex/: the C and C++ headers), LICENSE,
# THIRD-PARTY-NOTICES.txt and README.txt. The DLL comes from the Windows build
# that tools/run-windows-tests.sh tests (build folders: tools/build-folder.sh),
# built here only as far as the library. Installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/common.sh

dist="$1"
version="$2"
name="corvex-tracking-$version-windows-x64"

install_missing_packages zip unzip
prefix=$(tools/setup-windows.sh | tail -n 1)
# The full path, as the Windows build's cache keeps it.
windows_dir="$(realpath -m "$(build_folder windows)")"
cmake -S . -B "$windows_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCORVEX_WINDOWS_PREFIX="$prefix" >/dev/null
cmake --build "$windows_dir" --target corvex_tracking corvex_tracking_msvc_import_library

work="$(mktemp -d "${TMPDIR:-/tmp}/corvex-package-windows.XXXXXX")"
trap 'rm -rf "$work"' EXIT
root="$work/$name"
cmake --install "$windows_dir" --prefix "$root" >/dev/null
cp LICENSE "$root/LICENSE"
# The DLL links libcurl (built from Debian's source, its record kept in the
# prefix), nlohmann JSON, and MinGW-w64's runtime, winpthreads and GCC
# runtime libraries statically; Windows' own Schannel does TLS.
tools/release/notices.sh "$root/THIRD-PARTY-NOTICES.txt" \
  curl="$prefix/share/doc/curl/copyright" nlohmann-json winpthreads mingw-w64 mingw-gcc-runtime
sed "s/@VERSION@/$version/g" tools/release/windows-readme.txt >"$root/README.txt"

# Order and times fixed (the last commit's time, in UTC), so that the same
# tree gives the same archive.
mkdir -p "$dist"
archive="$(realpath "$dist")/$name.zip"
rm -f "$archive"
find "$root" -exec touch -h -d "@$(git log -1 --format=%ct)" {} +
(cd "$work" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X "$archive" -@)
echo "== $archive:"
unzip -l "$archive"
