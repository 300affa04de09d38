#!/usr/bin/env bash
# Checks the archives of dist/ (made by tools/package.sh) as a user takes them:
# the checksums, then each archive unpacked and used by a host program
# (tools/release/check-windows.sh, tools/release/check-linux.sh), and the
# NuGet package under the binding's tests (tools/release/check-nuget.sh) and the
# Unity package's .meta files and C# tests (tools/release/check-unity.sh).
# Needs root (the Linux checks run a host in a Debian 11 root).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/release/common.sh

dist="$(release_folder)"
version="$(project_version)"
(cd "$dist" && sha256sum --check --strict SHA256SUMS)
tools/release/check-windows.sh "$dist" "$version"
tools/release/check-linux.sh "$dist" "$version"
tools/release/check-nuget.sh "$dist" "$version"
tools/release/check-unity.sh "$dist" "$version"
echo "== The release archives pass their checks."
