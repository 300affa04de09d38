# shellcheck shell=bash
# Sourced by tools/package.sh, tools/check-release.sh and the scripts beside
# this file: the project's version and the folder the releases go to.
source "$(dirname "${BASH_SOURCE[0]}")/../packages.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../build-folder.sh"

# The version of project(... VERSION) in the top CMakeLists.txt: the one number
# that names the archives and versions the packages.
project_version() {
  sed -n 's/^project(CorvexTracking VERSION \([0-9][0-9.]*\).*/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt"
}

# Fails with a clear message where the .NET SDK is missing: the NuGet package
# is packed and tested with it, and nothing here installs it.
require_dotnet() {
  if ! command -v dotnet >/dev/null; then
    echo "The NuGet package needs the .NET SDK 10 (dotnet), which is not installed" >&2
    return 1
  fi
}

# Where tools/package.sh leaves the archives (ignored by git).
release_folder() {
  realpath -m "$(dirname "${BASH_SOURCE[0]}")/../../dist"
}

# Builds the Linux test service program in the plain build when it is missing
# or out of date (tools/build-folder.sh), and prints its path.
test_service_program() {
  local dir
  dir="$(realpath -m "$(build_folder)")"
  tools/setup.sh >&2
  cmake -S . -B "$dir" -G Ninja >/dev/null
  cmake --build "$dir" --target corvex-test-service >/dev/null
  echo "$dir/tests/support/corvex-test-service"
}

# Starts the test service program given in the background, its requests
# written as JSON lines to the file given (the first line names its proxy and
# certificate authority), and sets service_pid. Fails when it has not started
# within 30 s.
start_test_service() {
  "$1" </dev/null >"$2" 2>"$2.log" &
  service_pid=$!
  for _ in $(seq 300); do
    [ -s "$2" ] && return 0
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "The test service did not start: $(cat "$2.log")" >&2
  return 1
}

# Runs one check of an archive: prints "ok: $description" when the command
# succeeds, else "FAILED: $description" and counts it in $failures, so that a
# check script reports every failure before it fails.
check() {
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description" >&2
    failures=$((failures + 1))
  fi
}
