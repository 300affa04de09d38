#!/usr/bin/env bash
# Builds DIST/com.corvex.tracking-VERSION.tgz, the Unity package with its
# native plug-ins, from the two archives already in DIST (called by
# tools/package.sh after them):
#   tools/release/package-unity.sh DIST VERSION
# npm pack's layout (everything under package/), which Unity's "Add package
# from tarball" takes: the files of bindings/unity (package.json with its
# version set to VERSION, README.md, CHANGELOG.md, Documentation~/, Runtime/,
# Unity/ and their .meta files); Plugins/Windows/x86_64/corvex_tracking.dll
# from the zip and Plugins/Linux/x86_64/libcorvex_tracking.so (the file the
# links of the tar.gz lead to) from the Linux archive; LICENSE and both
# archives' notices in one THIRD-PARTY-NOTICES.txt. The .meta files of what
# the release adds come from bindings/unity/Release~/ (which Unity skips in a
# Git URL install), so their GUIDs stay the same from release to release.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/common.sh

dist="$1"
version="$2"
windows="corvex-tracking-$version-windows-x64"
linux="corvex-tracking-$version-linux-x64"
archive="$(realpath -m "$dist")/com.corvex.tracking-$version.tgz"

install_missing_packages unzip

work="$(mktemp -d "${TMPDIR:-/tmp}/corvex-package-unity.XXXXXX")"
trap 'rm -rf "$work"' EXIT
package="$work/package"
mkdir -p "$package"

# The package's files as git sees them (tracked, and new ones it does not
# ignore), the release's .meta files left out and laid over the top.
(cd bindings/unity && git ls-files -z --cached --others --exclude-standard . ':!Release~') |
  (cd bindings/unity && tar --null --no-recursion --ignore-failed-read -T - -cf -) |
  tar -xf - -C "$package"
cp -r bindings/unity/Release~/. "$package/"

sed -i -E "s/^(  \"version\": )\"[^\"]*\"/\1\"$version\"/" "$package/package.json"
if ! grep -q "^  \"version\": \"$version\",\$" "$package/package.json"; then
  echo "package.json: no version line set to $version" >&2
  exit 1
fi

unzip -q "$dist/$windows.zip" "$windows/bin/corvex_tracking.dll" "$windows/LICENSE" \
  "$windows/THIRD-PARTY-NOTICES.txt" -d "$work"
tar -xzf "$dist/$linux.tar.gz" -C "$work" "$linux/lib" "$linux/LICENSE" "$linux/THIRD-PARTY-NOTICES.txt"
cp "$work/$windows/bin/corvex_tracking.dll" "$package/Plugins/Windows/x86_64/corvex_tracking.dll"
cp -L "$work/$linux/lib/libcorvex_tracking.so.0" "$package/Plugins/Linux/x86_64/libcorvex_tracking.so"
chmod 644 "$package"/Plugins/*/x86_64/*corvex_tracking.*

if ! cmp -s "$work/$windows/LICENSE" "$work/$linux/LICENSE"; then
  echo "The two archives' LICENSE files differ" >&2
  exit 1
fi
cp "$work/$linux/LICENSE" "$package/LICENSE"
{
  printf 'Third-party notices of the Unity package\n'
  printf '========================================\n\n'
  printf 'The package holds two builds of the library, each with the components\n'
  printf 'below its name linked into it.\n\n\n'
  printf '##### Plugins/Windows/x86_64/corvex_tracking.dll #####\n\n'
  cat "$work/$windows/THIRD-PARTY-NOTICES.txt"
  printf '\n\n##### Plugins/Linux/x86_64/libcorvex_tracking.so #####\n\n'
  cat "$work/$linux/THIRD-PARTY-NOTICES.txt"
} >"$package/THIRD-PARTY-NOTICES.txt"

# Owner, order, modes and times fixed (the last commit's time), so that the
# same tree gives the same archive.
mkdir -p "$dist"
tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX \
  --mtime="@$(git log -1 --format=%ct)" -cf - package | gzip -9n >"$archive"
echo "== $archive"
tar tvzf "$archive"
