#!/usr/bin/env bash
# Fails, naming them, when tracked C and C++ files differ from what
# clang-format-14 makes of them with the repository's .clang-format.
# `clang-format-14 -i FILE...` mends them.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
differ=()
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue  # deleted in the working tree
  if ! clang-format-14 --style=file "$file" | cmp -s - "$file"; then
    differ+=("$file")
  fi
done < <(git ls-files -z -- '*.c' '*.h' '*.cpp' '*.hpp')

if [ ${#differ[@]} -gt 0 ]; then
  echo "check-format: ${#differ[@]} files differ from clang-format-14:" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
echo "check-format: every C and C++ file is formatted."
