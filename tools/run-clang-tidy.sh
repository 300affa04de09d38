#!/usr/bin/env bash
# clang-tidy-14 with the checks of .clang-tidy, every warning an error, over
# each source in src/. The Linux sources go through the compile database of
# the plain build (configured here, not built); the Windows-only ones through
# the Windows build's, once tools/run-windows-tests.sh has configured it (CI
# runs this after it), parsed by clang for the MinGW target with MinGW's
# headers. Build folders: tools/build-folder.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

linux_dir="$(build_folder)"
windows_dir="$(build_folder windows)"
mingw=x86_64-w64-mingw32

tools/setup.sh
cmake -S . -B "$linux_dir" -G Ninja >/dev/null

# Whether the compile database in the folder has an entry for the source.
compiled_in() {
  [ -f "$1/compile_commands.json" ] && grep -qF "\"file\": \"$PWD/$2\"" "$1/compile_commands.json"
}

# clang-tidy on the sources after "--", one process per file and per core,
# with the options before "--"; the counts of warnings found in the libraries'
# headers are left out.
run_tidy() {
  local options=()
  while [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  shift
  printf '%s\0' "$@" | xargs -0 -n 1 -P "$(nproc)" clang-tidy-14 --quiet "${options[@]}" 2>&1 |
    { grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' || true; }
}

linux_sources=()
windows_sources=()
while IFS= read -r source; do
  if compiled_in "$linux_dir" "$source"; then
    linux_sources+=("$source")
  else
    windows_sources+=("$source")
  fi
done < <(git ls-files 'src/*.cpp')

echo "run-clang-tidy: ${#linux_sources[@]} sources through $linux_dir/"
run_tidy -p "$linux_dir" -- "${linux_sources[@]}"

[ ${#windows_sources[@]} -gt 0 ] || exit 0
if [ ! -f "$windows_dir/compile_commands.json" ]; then
  echo "run-clang-tidy: left out, as $windows_dir/ is not configured:" \
    "${windows_sources[*]} (tools/run-windows-tests.sh configures it)"
  exit 0
fi
for source in "${windows_sources[@]}"; do
  if ! compiled_in "$windows_dir" "$source"; then
    echo "run-clang-tidy: neither build compiles $source" >&2
    exit 1
  fi
done

# The Windows build's commands with clang for MinGW's g++, minus a flag that
# clang lacks, and no system headers of the Linux machine.
windows_database="$linux_dir/clang-tidy-windows"
mkdir -p "$windows_database"
sed -e 's/ -fno-keep-inline-dllexport//g' \
  -e "s|\"command\": \"[^ ]*|\"command\": \"clang++ --target=$mingw -nostdlibinc|" \
  "$windows_dir/compile_commands.json" >"$windows_database/compile_commands.json"
# MinGW's g++ searches its C++ library, GCC's own headers, then the Windows
# headers. clang keeps its own in place of GCC's (their intrinsics differ).
headers=()
while IFS= read -r folder; do
  folder="$(realpath "$folder")"
  case "$folder" in
    */lib/gcc/*/include | */lib/gcc/*/include-fixed) ;;
    */include/c++*) headers+=("--extra-arg=-isystem$folder") ;;
    *) headers+=("--extra-arg=-idirafter$folder") ;;
  esac
done < <("$mingw-g++-posix" -x c++ -E -v - </dev/null 2>&1 >/dev/null |
  sed -n '/^#include <...> search starts here:$/,/^End of search list\.$/s/^ //p')

echo "run-clang-tidy: ${#windows_sources[@]} sources through $windows_dir/"
run_tidy -p "$windows_database" "${headers[@]}" -- "${windows_sources[@]}"
