#!/usr/bin/env bash
# Builds every release archive into dist/ (ignored by git), named by the
# version of project(... VERSION), and dist/SHA256SUMS over all of them:
#   corvex-tracking-<version>-windows-x64.zip   (tools/release/package-windows.sh)
#   corvex-tracking-<version>-linux-x64.tar.gz  (tools/release/package-linux.sh)
#   Corvex.Tracking.<version>.nupkg             (tools/release/package-nuget.sh, from
#                                               the two archives)
#   com.corvex.tracking-<version>.tgz           (tools/release/package-unity.sh:
#                                                the Unity package, with both libraries)
# Installs what it needs; runs as root in CI, elsewhere through sudo.
# tools/check-release.sh then checks them as a user takes them.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/release/common.sh

dist="$(release_folder)"
version="$(project_version)"
rm -rf "$dist"
mkdir -p "$dist"

tools/release/package-windows.sh "$dist" "$version"
tools/release/package-linux.sh "$dist" "$version"
tools/release/package-nuget.sh "$dist" "$version"
tools/release/package-unity.sh "$dist" "$version"

(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | sort |
  xargs sha256sum >SHA256SUMS)
echo "== dist/:"
(cd "$dist" && ls -l)
