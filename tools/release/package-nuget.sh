#!/usr/bin/env bash
# Packs DIST/Corvex.Tracking.VERSION.nupkg, the C# binding for .NET hosts,
# from the release archives already in DIST (called by tools/package.sh):
#   tools/release/package-nuget.sh DIST VERSION
# bindings/dotnet/Corvex.Tracking.csproj compiled, with the Windows archive's
# bin/corvex_tracking.dll, the Linux archive's library under the name
# DllImport looks for (libcorvex_tracking.so, the real file), and both
# archives' notices in one file.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/common.sh

dist="$(realpath "$1")"
version="$2"
require_dotnet
install_missing_packages unzip
windows="corvex-tracking-$version-windows-x64"
linux="corvex-tracking-$version-linux-x64"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

unzip -q "$dist/$windows.zip" "$windows/bin/corvex_tracking.dll" "$windows/THIRD-PARTY-NOTICES.txt" -d "$work"
tar -xzf "$dist/$linux.tar.gz" -C "$work" "$linux/lib" "$linux/THIRD-PARTY-NOTICES.txt"
mkdir "$work/linux"
cp -L "$work/$linux/lib/libcorvex_tracking.so" "$work/linux/libcorvex_tracking.so"
{
  echo "Third-party notices of the package Corvex.Tracking"
  echo
  echo "The two native libraries contain different components: the notices of"
  echo "each follow, as its release archive gives them."
  echo
  echo "=== runtimes/win-x64/native/corvex_tracking.dll"
  echo
  cat "$work/$windows/THIRD-PARTY-NOTICES.txt"
  echo
  echo "=== runtimes/linux-x64/native/libcorvex_tracking.so"
  echo
  cat "$work/$linux/THIRD-PARTY-NOTICES.txt"
} >"$work/THIRD-PARTY-NOTICES.txt"

DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 dotnet pack bindings/dotnet/Corvex.Tracking.csproj \
  -c Release --artifacts-path "$work/artifacts" -o "$dist" -p:Version="$version" \
  -p:CorvexLinuxLibrary="$work/linux/libcorvex_tracking.so" \
  -p:CorvexWindowsLibrary="$work/$windows/bin/corvex_tracking.dll" \
  -p:CorvexNotices="$work/THIRD-PARTY-NOTICES.txt"
