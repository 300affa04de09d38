#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages.
# Runs as root in CI; elsewhere it uses sudo for apt-get.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libcurl4-openssl-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  libcpp-httplib-dev libssl-dev openssl
  binutils clang libclang-rt-14-dev
  libcli11-dev
  # The collector's page test runs the page in headless Chromium.
  chromium fonts-dejavu-core
  # The C# binding's tests: compiled with mcs, run under mono.
  mono-mcs mono-runtime
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
