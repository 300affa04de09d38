#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages.
# Runs as root in CI; elsewhere it uses sudo for apt-get.
set -euo pipefail
source "$(dirname "$0")/packages.sh"

packages=(
  cmake ninja-build g++ pkg-config
  libcurl4-openssl-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  libcpp-httplib-dev libssl-dev openssl
  binutils clang libclang-rt-14-dev
  libcli11-dev
  # The collector's tracking plan: the validator, the draft-07 metaschema
  # (python3-jsonschema's installed file) and the schema test suite.
  libvalijson-dev python3-jsonschema json-schema-test-suite
  # tools/check-format.sh and tools/run-clang-tidy.sh.
  clang-format-14 clang-tidy-14
  # The collector's page test runs the page in headless Chromium.
  chromium fonts-dejavu-core
  # The C# binding's tests: compiled with mcs, run under mono.
  mono-mcs mono-runtime
  # tools/release/check-unity.sh reads the Unity package's .meta files.
  python3-yaml
)

install_missing_packages "${packages[@]}"

# The NuGet package and its CoreCLR tests need the .NET SDK 10, which is not
# one of Debian's packages: it is not installed from here.
if ! command -v dotnet >/dev/null || ! dotnet --list-sdks | grep -q '^1[0-9]\.'; then
  echo "tools/setup.sh: the .NET SDK 10 (dotnet) is missing; the C# binding's CoreCLR tests" >&2
  echo "and the NuGet package need it. Install it (it is not a Debian package), then go on." >&2
  exit 1
fi
