#!/usr/bin/env bash
# clang-tidy-14 with the checks of .clang-tidy, every warning an error, over
# each source in src/. The Linux sources go through the compile database of
# the plain build (configured here, not built); the Windows-only ones through
# the Windows build's (clang for MinGW), once tools/run-windows-tests.sh has
# configured it (CI runs this after it). Build folders: tools/build-folder.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build-folder.sh

linux_dir="$(build_folder)"
windows_dir="$(build_folder windows)"

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

# The Windows build compiles with clang for MinGW: its commands serve as they are.
echo "run-clang-tidy: ${#windows_sources[@]} sources through $windows_dir/"
run_tidy -p "$windows_dir" -- "${windows_sources[@]}"
