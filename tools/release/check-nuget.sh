#!/usr/bin/env bash
# Checks DIST/Corvex.Tracking.VERSION.nupkg (called by tools/check-release.sh):
#   tools/release/check-nuget.sh DIST VERSION
# Its files, then the binding's tests on CoreCLR with the package taken from
# DIST as a folder source (tests/bindings/dotnet/run-tests.sh). Of the build
# tree it uses only the test service program (built when missing).
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/common.sh

dist="$(realpath "$1")"
version="$2"
require_dotnet
install_missing_packages unzip file
package="$dist/Corvex.Tracking.$version.nupkg"
service="$(test_service_program)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "== $package"
unzip -Z1 "$package" | sort | tee "$work/files"
expected=(LICENSE README.md THIRD-PARTY-NOTICES.txt Corvex.Tracking.nuspec
  lib/netstandard2.0/Corvex.Tracking.dll lib/netstandard2.0/Corvex.Tracking.xml
  runtimes/linux-x64/native/libcorvex_tracking.so runtimes/win-x64/native/corvex_tracking.dll)
for file in "${expected[@]}"; do
  grep -qxF "$file" "$work/files" || { echo "FAILED: $file is missing" >&2; exit 1; }
done
unzip -p "$package" Corvex.Tracking.nuspec | grep -q "<version>$version</version>" ||
  { echo "FAILED: the package's version is not $version" >&2; exit 1; }
unzip -p "$package" runtimes/linux-x64/native/libcorvex_tracking.so >"$work/libcorvex_tracking.so"
file "$work/libcorvex_tracking.so" | grep -q "ELF 64-bit LSB shared object, x86-64" ||
  { echo "FAILED: the Linux library is not an x86-64 shared object" >&2; exit 1; }
echo "ok: the package's files and version"

tests/bindings/dotnet/run-tests.sh "$dist" "$version" "$service" "$work/run"
echo "== The NuGet package passes its checks."
