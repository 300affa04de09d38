# shellcheck shell=bash
# Sourced by the scripts in tools/: where they build. The plain build lives in
# $CORVEX_BUILD_DIR (default build) and every other build beside it, in
# $CORVEX_BUILD_DIR-<variant>: -address and -thread (the sanitizer tests),
# -fuzz, -bench and -windows. The Linux test service of the Windows tests and
# the soak come from the plain build; clang-tidy reads its compile database.
#   CORVEX_BUILD_DIR=out tools/run-tests.sh thread    builds in out-thread/

# Prints the folder of the variant named, or of the plain build without one.
build_folder() {
  local base="${CORVEX_BUILD_DIR:-build}"
  echo "${base%/}${1:+-$1}"
}
