#!/usr/bin/env bash
# Writes THIRD-PARTY-NOTICES.txt for a release archive: for each component
# linked into the library, its name and the copyright and license text that
# Debian records for the package it came from.
#   tools/release/notices.sh OUT COMPONENT[=COPYRIGHT_FILE]...
# Components: curl, openssl, nlohmann-json, winpthreads, mingw-w64,
# gcc-runtime (libstdc++ and libgcc of Debian's GCC 12), mingw-gcc-runtime
# (the same of Debian's MinGW-w64 GCC). A COPYRIGHT_FILE given after "=" is
# read in place of this machine's (another root's, or a source package's).
set -euo pipefail

out="$1"
shift

# Prints the title and the default copyright file of a component.
describe() {
  case "$1" in
    curl) echo "curl (libcurl)|/usr/share/doc/libcurl4/copyright" ;;
    openssl) echo "OpenSSL (libssl, libcrypto)|/usr/share/doc/libssl3/copyright" ;;
    nlohmann-json) echo "JSON for Modern C++ (nlohmann-json)|/usr/share/doc/nlohmann-json3-dev/copyright" ;;
    winpthreads) echo "winpthreads (MinGW-w64 POSIX threads)|/usr/share/doc/mingw-w64-x86-64-dev/copyright" ;;
    mingw-w64) echo "MinGW-w64 runtime|/usr/share/doc/mingw-w64-x86-64-dev/copyright" ;;
    gcc-runtime) echo "GCC runtime libraries (libstdc++, libgcc)|/usr/share/doc/gcc-12-base/copyright" ;;
    mingw-gcc-runtime)
      echo "GCC runtime libraries for MinGW-w64 (libstdc++, libgcc)|/usr/share/doc/gcc-mingw-w64-base/copyright"
      ;;
    *)
      echo "notices.sh: unknown component $1" >&2
      exit 2
      ;;
  esac
}

{
  echo "Third-party notices"
  echo "==================="
  echo
  echo "Corvex Tracking is released under the MIT license (LICENSE). The library"
  echo "contains the following components, linked into it, each under its own"
  echo "license. The text below each name is the copyright and license record"
  echo "of the Debian package the component was built from."
  for item in "$@"; do
    name="${item%%=*}"
    description="$(describe "$name")"
    title="${description%%|*}"
    file="${description#*|}"
    [ "$item" = "$name" ] || file="${item#*=}"
    if [ ! -s "$file" ]; then
      echo "notices.sh: no copyright file for $name at $file" >&2
      exit 1
    fi
    echo
    echo
    echo "$title"
    echo "$title" | tr -c '\n' '-'
    echo
    cat "$file"
  done
} >"$out"
