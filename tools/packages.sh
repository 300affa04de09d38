# shellcheck shell=bash
# Sourced by tools/setup.sh and tools/setup-windows.sh: Debian packages and
# commands that need root, run as root or else through sudo.

# Runs the command as root.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

apt_updated=false
apt_update() {
  as_root apt-get update -qq >&2
  apt_updated=true
}

# Installs those of the packages named that are not installed yet, with
# apt-get's output on stderr.
install_missing_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "Installing: ${missing[*]}" >&2
  $apt_updated || apt_update
  # Through env, as sudo would drop the variable.
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}
