# shellcheck shell=bash
# Sourced by tools/package.sh, tools/check-release.sh and the scripts beside
# this file: the project's version and the folder the releases go to.
source "$(dirname "${BASH_SOURCE[0]}")/../packages.sh"

# The version of project(... VERSION) in the top CMakeLists.txt: the one number
# that names the archives and versions the packages.
project_version() {
  sed -n 's/^project(CorvexTracking VERSION \([0-9][0-9.]*\).*/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt"
}

# Where tools/package.sh leaves the archives (ignored by git).
release_folder() {
  realpath -m "$(dirname "${BASH_SOURCE[0]}")/../../dist"
}
