#!/usr/bin/env bash
# Runs the binding's tests on CoreCLR (CorvexTrackingTests.csproj) against the
# package Corvex.Tracking VERSION of the folder SOURCE:
#   tests/bindings/dotnet/run-tests.sh SOURCE VERSION SERVICE_PROGRAM WORK
# The package is restored into WORK/packages, a fresh NuGet packages folder,
# and LD_LIBRARY_PATH is unset: the runtime loads the native library from
# where the package put it. The rest comes from nuget.config's local folder
# and the user's registry.
set -euo pipefail
source="$(realpath "$1")"
version="$2"
service="$(realpath "$3")"
work="$(realpath -m "$4")"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"

rm -rf "$work"
mkdir -p "$work"
unset LD_LIBRARY_PATH
export NUGET_PACKAGES="$work/packages" DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1
export CORVEX_TEST_SERVICE="$service" CORVEX_TEST_PACKAGE="$root/bindings/unity"
export CORVEX_TEST_EXPORTS="$root/exports.txt"
dotnet test "$here/CorvexTrackingTests.csproj" -c Release --artifacts-path "$work/artifacts" \
  -p:CorvexPackageSource="$source" -p:CorvexVersion="$version" --logger "console;verbosity=normal"

# The package restored is SOURCE's, not another source's of that name.
cmp "$source/Corvex.Tracking.$version.nupkg" \
  "$NUGET_PACKAGES/corvex.tracking/$version/corvex.tracking.$version.nupkg"
echo "== The tests ran against $source/Corvex.Tracking.$version.nupkg."
