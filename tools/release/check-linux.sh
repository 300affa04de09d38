#!/usr/bin/env bash
# Checks DIST/corvex-tracking-VERSION-linux-x64.tar.gz as a user takes it
# (called by tools/check-release.sh):
#   tools/release/check-linux.sh DIST VERSION
# Unpacked into a temporary folder, the library must export exactly the names
# of exports.txt, need only glibc's own libraries at symbol versions up to
# 2.31, and, loaded by the demo game built in the Debian 11 root, deliver its
# events to the test service running on this machine: with the service's
# authority given by the host, then with it only in the root's system bundle
# at each place the library looks. Last, its CMake and pkg-config packages
# build the C++ example here. Of the build tree it uses only the test service
# program (built when missing). Needs root (chroot).
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/linux-root.sh

dist="$1"
version="$2"
name="$(linux_release_name "$version")"
archive="$dist/$name.tar.gz"
service="$(test_service_program)"

install_missing_packages binutils jq pkg-config cmake ninja-build g++
prepare_linux_root

# The unpacked archive sits in the root, where the demo game runs, and is
# checked from both sides.
work="$(mktemp -d "$linux_root/tmp/corvex-check.XXXXXX")"
inside="/tmp/$(basename "$work")"
service_pid=""
# The places the library looks for the system's bundle, in its order.
places=(/etc/ssl/certs/ca-certificates.crt /etc/pki/tls/certs/ca-bundle.crt
  /etc/ssl/ca-bundle.pem /etc/pki/tls/cacert.pem)
bundles="$work/bundles"
bundles_aside=false
restore_bundles() {
  $bundles_aside || return 0
  local place
  for place in "${places[@]}"; do
    rm -f "$linux_root$place"
    if [ -e "$bundles$place" ]; then mv "$bundles$place" "$linux_root$place"; fi
  done
  rmdir -p "$linux_root/etc/pki/tls/certs" 2>/dev/null || true
  bundles_aside=false
}
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  restore_bundles
  rm -rf "$work"
}
trap cleanup EXIT

failures=0

tar -xzf "$archive" -C "$work"
package="$work/$name"
library="$package/lib/libcorvex_tracking.so.0"
echo "== $archive"
(cd "$package" && find . \( -type f -o -type l \) -printf '%P\n' | sort)

links_and_notices() {
  [ "$(readlink "$package/lib/libcorvex_tracking.so")" = libcorvex_tracking.so.0 ] &&
    [ "$(readlink "$library")" = "libcorvex_tracking.so.$version" ] &&
    [ -f "$package/lib/libcorvex_tracking.so.$version" ] && [ -s "$package/LICENSE" ] &&
    for title in "curl (libcurl)" "OpenSSL" "JSON for Modern C++" "GCC runtime libraries"; do
      grep -q "^$title" "$package/THIRD-PARTY-NOTICES.txt" || return 1
    done
}
description="the links .so -> .so.0 -> .so.$version, the license and the notices are there"
check links_and_notices

# The library's symbols.
exported_names() {
  nm -D --defined-only "$library" | awk '$2 ~ /^[A-Z]$/ && $2 != "U" { print $3 }' | sort
}
description="the exported names are exactly those of exports.txt"
check diff <(sort exports.txt) <(exported_names)

needed_libraries() {
  readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}
only_glibc_needed() {
  needed_libraries | grep -Ev '^(libc|libm|libpthread|libdl|librt|ld-linux-x86-64)\.so\.[0-9]+$' |
    sed 's/^/  needs /' | grep . && return 1
  return 0
}
description="it needs only glibc's libraries ($(needed_libraries | tr '\n' ' '))"
check only_glibc_needed

symbol_versions() {
  readelf --dyn-syms --wide "$library" | grep -oE '@@?[A-Za-z_]+[0-9.]*' | tr -d @ | sort -u
}
versions_at_most_glibc_2_31() {
  local versions newest
  versions=$(symbol_versions)
  if grep -E '^(CURL|OPENSSL)' <<<"$versions"; then return 1; fi
  newest=$(sed -n 's/^GLIBC_//p' <<<"$versions" | sort -V | tail -n 1)
  echo "  newest glibc version: $newest"
  [ "$(printf '%s\n' "$newest" 2.31 | sort -V | tail -n 1)" = 2.31 ]
}
description="no symbol needs glibc above 2.31, nor a curl or OpenSSL version"
check versions_at_most_glibc_2_31

# The demo game, built in the root against the unpacked headers and library.
cp examples/demo_game.c "$work/demo_game.c"
in_linux_root gcc -std=c99 -Wall -Wextra -Werror "$inside/demo_game.c" -o "$inside/demo-game" \
  -I"$inside/$name/include" -L"$inside/$name/lib" -lcorvex_tracking \
  -Wl,-rpath,"$inside/$name/lib"

start_test_service "$service" "$work/service.jsonl"
proxy=$(head -n 1 "$work/service.jsonl" | jq -r .proxyUrl)
ca_file=$(head -n 1 "$work/service.jsonl" | jq -r .caFile)
cp "$ca_file" "$work/ca.pem"

# The root's own bundles are kept aside while the checks put theirs in place.
set_bundles_aside() {
  mkdir -p "$bundles"
  bundles_aside=true
  local place
  for place in "${places[@]}"; do
    if [ -e "$linux_root$place" ]; then
      mkdir -p "$bundles$(dirname "$place")"
      mv "$linux_root$place" "$bundles$place"
    fi
  done
}
set_bundles_aside

# Runs the demo game in the root with a fresh save folder and the options
# given; true when every event it tracked arrived at the service, each once.
run=0
delivers() {
  run=$((run + 1))
  local before tracked delivered
  before=$(wc -l <"$work/service.jsonl")
  tracked=$(in_linux_root "$inside/demo-game" --proxy "$proxy" --save "$inside/save-$run" "$@" |
    sed -n 's/^tracked \([0-9]*\) events$/\1/p')
  delivered=$(tail -n +"$((before + 1))" "$work/service.jsonl" |
    jq -r 'select(.method == "PUT") | .body | fromjson | .subMessages[].eId' | sort -u | wc -l)
  echo "  tracked ${tracked:-?}, delivered $delivered"
  [ -n "$tracked" ] && [ "$tracked" -gt 0 ] && [ "$delivered" -eq "$tracked" ]
}
nothing_delivered() {
  ! delivers "$@"
}

description="the host's authority: the events arrive"
check delivers --ca "$inside/ca.pem"
description="no bundle in the system: nothing arrives"
check nothing_delivered
for place in "${places[@]}"; do
  mkdir -p "$(dirname "$linux_root$place")"
  cp "$work/ca.pem" "$linux_root$place"
  description="the authority only in $place: the events arrive"
  check delivers
  rm -f "$linux_root$place"
done
restore_bundles

# The packages build the C++ example here, from outside the tree.
export LOCALAPPDATA="$work/appdata"
cp -r examples "$work/examples"
builds_with_cmake() {
  cmake -S "$work/examples" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$package" >/dev/null &&
    cmake --build "$work/cmake-build" >/dev/null &&
    "$work/cmake-build/corvex-example" | grep "^Corvex Tracking $version"
}
description="the CMake package builds and runs the C++ example"
check builds_with_cmake
builds_with_pkg_config() {
  local flags
  read -r -a flags <<<"$(PKG_CONFIG_PATH="$package/lib/pkgconfig" pkg-config --cflags --libs corvex-tracking)"
  c++ -std=c++17 -Wall -Wextra -Werror "$work/examples/example.cpp" "${flags[@]}" \
    -Wl,-rpath,"$package/lib" -o "$work/pkg-config-example" &&
    "$work/pkg-config-example" | grep "^Corvex Tracking $version"
}
description="the pkg-config package builds and runs the C++ example"
check builds_with_pkg_config

if [ "$failures" -gt 0 ]; then
  echo "== The Linux archive failed $failures checks." >&2
  exit 1
fi
echo "== The Linux archive passes its checks."
