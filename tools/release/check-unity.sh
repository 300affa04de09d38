#!/usr/bin/env bash
# Checks DIST/com.corvex.tracking-VERSION.tgz as a user takes it (called by
# tools/check-release.sh):
#   tools/release/check-unity.sh DIST VERSION
# Unpacked into a temporary folder: the npm layout and package.json's
# version; every .meta file read as YAML (tools/release/check-unity-metas.py:
# one per imported file and folder, GUIDs unique, the plug-ins' importer
# settings); then the binding compiled from the package's Runtime/ with mcs
# and the C# tests run under Mono against the package's own
# Plugins/Linux/x86_64/libcorvex_tracking.so. Of the build tree it uses only
# the test service program (built when missing), which the test runner starts.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/common.sh

dist="$1"
version="$2"
archive="$dist/com.corvex.tracking-$version.tgz"
started=$SECONDS

install_missing_packages python3-yaml mono-mcs mono-runtime
service="$(test_service_program)"

work="$(mktemp -d "${TMPDIR:-/tmp}/corvex-check-unity.XXXXXX")"
trap 'rm -rf "$work"' EXIT

failures=0

echo "== $archive"
tar -xzf "$archive" -C "$work"
package="$work/package"
plugins="$package/Plugins/Linux/x86_64"

npm_layout() {
  [ "$(tar -tzf "$archive" | grep -cv '^package/')" -eq 0 ] &&
    grep -q "^  \"version\": \"$version\",\$" "$package/package.json" &&
    grep -q '^  "name": "com.corvex.tracking",$' "$package/package.json"
}
description="everything under package/, package.json named com.corvex.tracking at version $version"
check npm_layout

description="every imported file and folder has a .meta file of its own; the plug-ins' settings"
check /usr/bin/python3 tools/release/check-unity-metas.py "$package"

# The binding as Unity compiles its assembly definition (the options of
# tests/bindings/unity/CMakeLists.txt), and the tests beside it.
mcs_options=(-langversion:7.2 -warnaserror+ -nologo)
mcs "${mcs_options[@]}" -target:library -doc:"$work/Corvex.Tracking.xml" \
  -out:"$work/Corvex.Tracking.dll" "$package"/Runtime/*.cs
mcs "${mcs_options[@]}" -target:exe -r:"$work/Corvex.Tracking.dll" -r:System.dll -r:System.Core.dll \
  -out:"$work/CorvexTrackingTests.exe" tests/bindings/unity/*.cs

# The dynamic loader's log shows that the package's own library was used.
run_group() {
  LD_LIBRARY_PATH="$plugins" LD_DEBUG=files \
    mono --debug "$work/CorvexTrackingTests.exe" --group "$1" --service "$service" \
    --package "$package" --exports exports.txt >"$work/$1.log" 2>&1
  local status=$?
  grep -E '^[0-9]+ passed, [0-9]+ failed$' "$work/$1.log" | sed 's/^/  /'
  if [ "$status" -ne 0 ]; then
    grep '^FAILED ' "$work/$1.log" | head -n 20 >&2
    return 1
  fi
  if [ "$1" != SourceTests ] && ! grep -q "calling init: $plugins/libcorvex_tracking.so\$" "$work/$1.log"; then
    echo "  the library was not loaded from $plugins" >&2
    return 1
  fi
}
for group in EventTests TextTests LifecycleTests ApplicationLifecycleTests SourceTests; do
  description="the C# tests $group, with the package's binding and library"
  check run_group "$group"
done

echo "== The Unity package's check took $((SECONDS - started)) s."
if [ "$failures" -gt 0 ]; then
  echo "== The Unity package failed $failures checks." >&2
  exit 1
fi
echo "== The Unity package passes its checks."
