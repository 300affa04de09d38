#!/usr/bin/env bash
# Builds DIST/corvex-tracking-VERSION-linux-x64.tar.gz (called by
# tools/package.sh):
#   tools/release/package-linux.sh DIST VERSION
# The library is built in a Debian 11 root (tools/release/linux-root.sh) with
# GCC 10, libcurl and OpenSSL of Debian 12's source packages linked in
# statically, and the C++ and GCC runtimes too, so that it loads on glibc 2.31
# and later and needs nothing else of the system. The static libraries are
# kept in the root (/opt/corvex-static) and built again only when their recipe
# changes. Needs root (chroot).
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/linux-root.sh
source tools/curl-options.sh

dist="$1"
version="$2"
name="$(linux_release_name "$version")"
# Inside the root.
static_prefix=/opt/corvex-static
# Raise when the way libcurl or OpenSSL is built changes.
static_recipe=1

install_missing_packages dpkg-dev git
prepare_linux_root

# Fetches the sources on this machine (the root has no deb-src entries), then
# builds OpenSSL and libcurl in the root. Their copyright records stay beside
# the libraries for the notices.
build_static_libraries() {
  local sources="$linux_root/build/sources"
  rm -rf "$sources" "$linux_root$static_prefix"
  mkdir -p "$sources/openssl" "$sources/curl"
  fetch_debian_source openssl "$sources/openssl"
  fetch_debian_source curl "$sources/curl"
  local openssl curl
  openssl=$(cd "$sources/openssl" && find . -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' -printf '%P\n')
  curl=$(cd "$sources/curl" && find . -mindepth 1 -maxdepth 1 -type d -name 'curl-*' -printf '%P\n')
  mkdir -p "$linux_root$static_prefix/copyright"
  cp "$sources/openssl/$openssl/debian/copyright" "$linux_root$static_prefix/copyright/openssl"
  cp "$sources/curl/$curl/debian/copyright" "$linux_root$static_prefix/copyright/curl"
  # curl: Debian's last patches rename the library for its other TLS flavours
  # in lib/Makefile.am only; the build uses the Makefile.in that came with
  # the release (automake's maintainer mode is off), so they take no effect.
  in_linux_root sh -euc '
    prefix=$1 openssl=$2 curl=$3
    shift 3
    jobs=$(nproc)
    cd "/build/sources/openssl/$openssl"
    # Only the libraries are built (OpenSSL 3.0 knows no no-apps).
    ./Configure linux-x86_64 --prefix="$prefix" --libdir=lib --openssldir=/etc/ssl \
      no-shared no-dso no-module no-engine no-autoload-config no-tests -fPIC >&2
    make -s -j"$jobs" build_libs >&2
    make -s install_dev >&2
    cd "/build/sources/curl/$curl"
    ./configure -q --prefix="$prefix" --with-openssl="$prefix" \
      --disable-shared --enable-static --with-pic \
      --disable-openssl-auto-load-config "$@" >&2
    make -s -j"$jobs" -C lib >&2
    make -s -C lib install >&2
    make -s -C include install >&2
    sh curl-config --features | grep -qx HTTPS-proxy
  ' sh "$static_prefix" "$openssl" "$curl" "${curl_feature_options[@]}"
  rm -rf "$sources"
}

build_once "$linux_root$static_prefix/.recipe-$static_recipe" "OpenSSL and libcurl for the release" \
  build_static_libraries

# The library: the working tree's files (tracked, and new ones git does not
# ignore) copied into the root, configured without the tests and tools,
# built, and installed stripped.
work="$linux_root/build/corvex"
rm -rf "$work"
mkdir -p "$work/source"
git ls-files -z --cached --others --exclude-standard |
  tar --null --no-recursion --ignore-failed-read -T - -cf - | tar -xf - -C "$work/source"
in_linux_root sh -euc '
  cd /build/corvex
  cmake -S source -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_LIBDIR=lib \
    -DCORVEX_BUILD_TESTS=OFF -DCORVEX_BUILD_TOOLS=OFF \
    -DCORVEX_CURL_STATIC=ON -DCMAKE_PREFIX_PATH="$1" >&2
  cmake --build build --target corvex_tracking -j"$(nproc)" >&2
  cmake --install build --prefix "/build/corvex/$2" --strip >&2
' sh "$static_prefix" "$name"

stage="$work/$name"
cp LICENSE "$stage/LICENSE"
tools/release/notices.sh "$stage/THIRD-PARTY-NOTICES.txt" \
  "curl=$linux_root$static_prefix/copyright/curl" \
  "openssl=$linux_root$static_prefix/copyright/openssl" \
  "nlohmann-json=$linux_root/usr/share/doc/nlohmann-json3-dev/copyright" \
  "gcc-runtime=$linux_root/usr/share/doc/gcc-10-base/copyright"
cat >"$stage/README.txt" <<EOF
Corvex Tracking $version for Linux x86-64

The library needs glibc 2.31 or later and nothing else of the system: libcurl,
OpenSSL and the C++ runtime are linked into it. Without a certificate
authority set by the host (TrackingManager_SetSendCertificateAuthority) it
checks the tracking service against the system's bundle, the first found of
/etc/ssl/certs/ca-certificates.crt, /etc/pki/tls/certs/ca-bundle.crt,
/etc/ssl/ca-bundle.pem and /etc/pki/tls/cacert.pem.

  include/corvex/tracking.h     the 71 C functions
  include/corvex/tracking.hpp   the C++ wrapper (header only)
  lib/libcorvex_tracking.so.0   the library (its SONAME), with its links
  lib/cmake/CorvexTracking/     CMake package: find_package(CorvexTracking),
                                target Corvex::Tracking
  lib/pkgconfig/                pkg-config package: corvex-tracking
  LICENSE                       the library's license (MIT)
  THIRD-PARTY-NOTICES.txt       the licenses of what is linked into it

Building a game:
  CMake:       cmake -DCMAKE_PREFIX_PATH=/path/to/$name ...
  pkg-config:  PKG_CONFIG_PATH=/path/to/$name/lib/pkgconfig \\
               pkg-config --cflags --libs corvex-tracking

Shipping: copy lib/libcorvex_tracking.so.0 (the file, not the link: cp -L)
beside the game's executable, and link the game with -Wl,-rpath,'\$ORIGIN'
(CMake: set_target_properties(game PROPERTIES BUILD_RPATH "\$ORIGIN"
INSTALL_RPATH "\$ORIGIN")) so that it finds the library there.
EOF

# Owner, order and times fixed (the last commit's time), so that the same tree
# gives the same archive.
mkdir -p "$dist"
archive="$dist/$name.tar.gz"
tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$(git log -1 --format=%ct)" -cf - "$name" | gzip -9n >"$archive"
rm -rf "$work"
echo "== $archive"
tar tvzf "$archive"
