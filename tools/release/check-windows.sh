#!/usr/bin/env bash
# Checks DIST/corvex-tracking-VERSION-windows-x64.zip as a user takes it:
#   tools/release/check-windows.sh DIST VERSION
# Unpacked in a temporary folder, with nothing of the build but exports.txt
# and the Linux test service program (built here when missing):
#   - the DLL exports exactly exports.txt, imports only Windows' DLLs and the
#     UCRT, and carries no DWARF;
#   - its version resource names the product and VERSION;
#   - the PDB matches the DLL (GUID and age) and turns an export's address
#     into its source file;
#   - a host built as Visual Studio builds one (clang for the MSVC target,
#     lld-link, the zip's corvex_tracking.lib, no MinGW object), by hand and
#     with CMake through the zip's package, links; the first runs under Wine,
#     its events reach the test service through its proxy, and it frees the
#     library's texts with the UCRT's free();
#   - the C++ example, built with cmake/mingw-w64-x86_64.cmake through the
#     zip's CMake package, runs under Wine and sends to the service too.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/release/common.sh
source tools/wine.sh

dist="$1"
version="$2"
name="corvex-tracking-$version-windows-x64"
llvm=/usr/lib/llvm-14/bin

fail() {
  echo "check-windows: $*" >&2
  exit 1
}

tools/setup-windows.sh >/dev/null
install_missing_packages unzip jq
service="$(test_service_program)"

work="$(mktemp -d "${TMPDIR:-/tmp}/corvex-check-windows.XXXXXX")"
service_pid=""
wine_started=false
cleanup() {
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  ! $wine_started || stop_wine
  rm -rf "$work"
}
trap cleanup EXIT
unzip -q "$dist/$name.zip" -d "$work"
sdk="$work/$name"
dll="$sdk/bin/corvex_tracking.dll"
[ -f "$dll" ] || fail "no bin/corvex_tracking.dll in $name.zip"

echo "== The DLL's exports, imports and sections"
"$llvm/llvm-readobj" --coff-exports "$dll" | sed -n 's/^ *Name: \(..*\)$/\1/p' | sort >"$work/exports"
diff <(sort exports.txt) "$work/exports" || fail "the exports differ from exports.txt (< list, > DLL)"
system_dlls=" advapi32.dll bcrypt.dll crypt32.dll iphlpapi.dll kernel32.dll ole32.dll shell32.dll ws2_32.dll "
while read -r dll_name; do
  dll_name="${dll_name,,}"
  [[ "$dll_name" =~ ^api-ms-win-crt-[a-z]+-l1-1-0\.dll$ || "$system_dlls" == *" $dll_name "* ]] ||
    fail "the DLL imports $dll_name"
done < <("$llvm/llvm-readobj" --coff-imports "$dll" | sed -n 's/^ *Name: //p')
if "$llvm/llvm-readobj" --sections "$dll" | grep -q 'Name: \.debug_'; then
  fail "the DLL carries DWARF sections"
fi
echo "$(wc -l <"$work/exports") exports as listed; imports: Windows and the UCRT; no DWARF"

echo "== The version resource"
# The VS_FIXEDFILEINFO signature, then the file version, as the DLL's bytes.
IFS=. read -r major minor patch <<<"$version"
version_bytes=$(printf 'bd 04 ef fe 00 00 01 00 %02x %02x %02x %02x %02x %02x %02x %02x' \
  $((minor & 255)) $((minor >> 8)) $((major & 255)) $((major >> 8)) \
  0 0 $((patch & 255)) $((patch >> 8)))
# The resource's bytes, one line of hexadecimal.
resource=$("$llvm/llvm-readobj" --coff-resources "$dll" |
  sed -n 's/^ *[0-9A-F]\{4\}: \(\( *[0-9A-F]\{8\}\)\{1,4\}\) *|.*/\1/p' | tr -d ' \n' |
  sed 's/../& /g' | tr 'A-F' 'a-f')
[[ "$resource" == *"$version_bytes"* ]] || fail "no VERSIONINFO of version $version"
# A text of the string table, as UTF-16 bytes.
utf16() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //'; }
for text in "ProductName" "Corvex Tracking" "ProductVersion" "FileVersion" "$version"; do
  [[ "$resource" == *"$(utf16 "$text")"* ]] || fail "the version resource lacks \"$text\""
done
echo "VERSIONINFO $version, \"Corvex Tracking\""

echo "== The PDB"
# The debug directory's GUID bytes (the first three fields little-endian) and
# age, written as llvm-pdbutil writes the PDB's.
read -r -a guid < <("$llvm/llvm-readobj" --coff-debug-directory "$dll" |
  sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p')
[ ${#guid[@]} -eq 16 ] || fail "the DLL has no CodeView debug directory"
dll_guid="{${guid[3]}${guid[2]}${guid[1]}${guid[0]}-${guid[5]}${guid[4]}-${guid[7]}${guid[6]}-"
dll_guid+="${guid[8]}${guid[9]}-${guid[10]}${guid[11]}${guid[12]}${guid[13]}${guid[14]}${guid[15]}}"
dll_age=$("$llvm/llvm-readobj" --coff-debug-directory "$dll" | sed -n 's/^ *PDBAge: //p')
summary=$("$llvm/llvm-pdbutil" dump --summary "$sdk/bin/corvex_tracking.pdb")
pdb_guid=$(sed -n 's/^ *GUID: //p' <<<"$summary")
pdb_age=$(sed -n 's/^ *Age: //p' <<<"$summary")
if [ "$dll_guid" != "$pdb_guid" ] || [ "$dll_age" != "$pdb_age" ]; then
  fail "the DLL names PDB $dll_guid age $dll_age, the PDB is $pdb_guid age $pdb_age"
fi
# An export's address, turned into its function and source line.
rva=$("$llvm/llvm-readobj" --coff-exports "$dll" |
  sed -n '/Name: TrackingManager_GetVersion$/{n;s/^ *RVA: //p}')
location=$("$llvm/llvm-symbolizer" --obj="$dll" --relative-address "$rva")
echo "$location"
[[ "$location" == *"src/api/tracking_manager_api.cpp:"* ]] ||
  fail "llvm-symbolizer did not find TrackingManager_GetVersion's source at $rva"
echo "GUID $pdb_guid, age $pdb_age, as the DLL names it"

echo "== The test service"
start_test_service "$service" "$work/service.jsonl" || fail "no test service"
proxy=$(head -n 1 "$work/service.jsonl" | jq -r .proxyUrl)
# Paths as Windows programs see them under Wine: on drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
authority=$(windows_path "$(head -n 1 "$work/service.jsonl" | jq -r .caFile)")
echo "proxy $proxy, certificate authority $authority"

# The names of the events that came with those credentials, one a line.
events_of() {
  local token
  token="Basic $(printf '%s' "$1" | base64 -w 0)"
  { jq -r --arg token "$token" 'select(any(.headers[]?;
      (.[0] | ascii_downcase) == "authorization" and .[1] == $token))
      | .body | fromjson | .subMessages[].eventName' "$work/service.jsonl" 2>/dev/null || true; }
}
# Waits up to 60 s for that many events with those credentials.
wait_for_events() {
  for _ in $(seq 600); do
    [ "$(events_of "$1" | wc -l)" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}

start_wine "$work/wine"
wine_started=true

echo "== A host built as Visual Studio builds one"
host="$work/msvc-host"
mkdir -p "$host"
# Import libraries of the system's DLLs, from the few names the host calls.
printf 'LIBRARY kernel32.dll\nEXPORTS GetEnvironmentVariableA GetFileAttributesA Sleep ExitProcess\n' \
  >"$host/kernel32.def"
printf 'LIBRARY api-ms-win-crt-heap-l1-1-0.dll\nEXPORTS free\n' >"$host/ucrt-heap.def"
printf 'LIBRARY api-ms-win-crt-stdio-l1-1-0.dll\nEXPORTS puts\n' >"$host/ucrt-stdio.def"
system_libraries=()
for def in "$host"/*.def; do
  "$llvm/llvm-dlltool" -m i386:x86-64 -d "$def" -l "${def%.def}.lib"
  system_libraries+=("${def%.def}.lib")
done
# By hand: the zip's include/ and corvex_tracking.lib.
"$llvm/clang" --target=x86_64-pc-windows-msvc -ffreestanding -nostdlibinc -O2 -Wall -Wextra -Werror \
  -I"$sdk/include" -c tests/release/windows_msvc_host.c -o "$host/host.obj"
"$llvm/lld-link" -nologo -subsystem:console -entry:hostMain -nodefaultlib \
  -out:"$host/windows_msvc_host.exe" "$host/host.obj" "$sdk/lib/corvex_tracking.lib" \
  "${system_libraries[@]}"
"$llvm/llvm-readobj" --coff-imports "$host/windows_msvc_host.exe" | grep -q 'Name: corvex_tracking.dll$' ||
  fail "the host does not import corvex_tracking.dll"
# With CMake, as clang-cl: the package must hand it corvex_tracking.lib.
cmake -S tests/release -B "$work/msvc-cmake" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_SYSTEM_PROCESSOR=AMD64 -DCMAKE_C_COMPILER="$llvm/clang-cl" \
  -DCMAKE_C_COMPILER_TARGET=x86_64-pc-windows-msvc -DCMAKE_LINKER="$llvm/lld-link" \
  -DCMAKE_RC_COMPILER="$llvm/llvm-rc" \
  -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_PREFIX_PATH="$sdk" \
  -DCORVEX_SYSTEM_IMPORT_LIBRARIES="$(IFS=';' && echo "${system_libraries[*]}")" >/dev/null
cmake --build "$work/msvc-cmake" >/dev/null
grep -qF "$sdk/lib/corvex_tracking.lib" "$work/msvc-cmake/build.ninja" ||
  fail "find_package(CorvexTracking) did not give Visual Studio corvex_tracking.lib"
echo "built by hand and with CMake (find_package: lib/corvex_tracking.lib)"
cp "$dll" "$host/"

CORVEX_PROXY="$proxy" CORVEX_CA="$authority" CORVEX_SAVE="$(windows_path "$work/host-save")" \
  CORVEX_STOP="$(windows_path "$work/host-stop")" \
  "$wine_dir/wine64" "$host/windows_msvc_host.exe" </dev/null >"$work/host.out" 2>&1 &
host_pid=$!
# The first open and the three events the host reports.
wait_for_events release-host:release-secret 4 || true
touch "$work/host-stop"
host_status=0
wait "$host_pid" || host_status=$?
cat "$work/host.out"
[ "$host_status" -eq 0 ] || fail "the host ended with $host_status"
events_of release-host:release-secret | sort | uniq -c
if [ "$(events_of release-host:release-secret | wc -l)" -ne 4 ] ||
  [ "$(events_of release-host:release-secret | grep -c '^release_check$')" -ne 1 ]; then
  fail "the service did not receive the host's 4 events"
fi

echo "== The C++ example through the CMake package, with MinGW"
cp -r examples "$work/examples"
cmake -S "$work/examples" -B "$work/example-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCorvexTracking_DIR="$sdk/lib/cmake/CorvexTracking" >/dev/null
cmake --build "$work/example-build" >/dev/null
cp "$dll" "$work/example-build/"
"$wine_dir/wine64" "$work/example-build/corvex-example.exe" "$proxy" "$authority" </dev/null |
  tee "$work/example.out"
grep -q "^Corvex Tracking " "$work/example.out" || fail "the example did not run"
wait_for_events example-app:example-secret 1 || fail "no event of the example reached the service"
echo "$(events_of example-app:example-secret | wc -l) events of the example arrived"

echo "== $name.zip passes its checks."
