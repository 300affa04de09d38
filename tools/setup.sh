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
