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

# Adds deb-src entries for the archives that carry the package named, copied
# from the machine's own deb entries.
add_source_entries() {
  local uris
  uris=$(apt-cache policy "$1" | awk '$1 ~ /^[0-9]+$/ && $2 ~ /:\/\// { sub(/\/$/, "", $2); print $2 }' |
    sort -u | tr '\n' ' ')
  if [ -z "$uris" ]; then
    echo "No archive carries $1; cannot find its source package." >&2
    exit 1
  fi
  # deb822 stanzas and one-line entries go to files of their own format.
  local stanzas lines
  stanzas=$(mktemp)
  lines=$(mktemp)
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v uris=" $uris" 'BEGIN { RS = ""; ORS = "\n\n" }
      {
        deb = 0; known = 0
        n = split($0, fields, "\n")
        for (i = 1; i <= n; i++) {
          if (fields[i] ~ /^Types:/ && fields[i] ~ /[ \t]deb([ \t]|$)/) deb = 1
          if (fields[i] ~ /^URIs:/) {
            m = split(substr(fields[i], 6), list, /[ \t]+/)
            for (j = 1; j <= m; j++) {
              uri = list[j]; sub(/\/$/, "", uri)
              if (uri != "" && index(uris " ", " " uri " ") > 0) known = 1
            }
          }
        }
        if (deb && known) { sub(/Types:[^\n]*/, "Types: deb-src"); print }
      }' "$file" >>"$stanzas"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v uris=" $uris" '$1 == "deb" {
        uri = ""
        for (i = 2; i <= NF && uri == ""; i++) if ($i ~ /:\/\//) uri = $i
        sub(/\/$/, "", uri)
        if (uri != "" && index(uris " ", " " uri " ") > 0) { sub(/^deb/, "deb-src"); print }
      }' "$file" >>"$lines"
  done
  if [ ! -s "$stanzas" ] && [ ! -s "$lines" ]; then
    echo "No apt entry to derive a deb-src entry from." >&2
    exit 1
  fi
  if [ -s "$stanzas" ]; then
    as_root install -m 0644 "$stanzas" /etc/apt/sources.list.d/corvex-deb-src.sources
  fi
  if [ -s "$lines" ]; then
    as_root install -m 0644 "$lines" /etc/apt/sources.list.d/corvex-deb-src.list
  fi
  rm -f "$stanzas" "$lines"
  echo "Added deb-src entries in /etc/apt/sources.list.d/corvex-deb-src.*" >&2
}

# Unpacks Debian's source package of the package named into the empty folder
# (as apt-get source does: the tree in a folder named after the package and
# its version), adding deb-src entries when apt knows no source package yet.
# The newest version whose files the archive serves: a mirror may list a
# security update's source and not serve it.
fetch_debian_source() {
  # Read whole: grep -q would stop the listing early, and pipefail would take
  # the broken pipe for a missing package.
  local versions
  versions=$(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p')
  if [ -z "$versions" ]; then
    $apt_updated || apt_update
    versions=$(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p')
    if [ -z "$versions" ]; then
      add_source_entries "$1"
      apt_update
      versions=$(apt-cache showsrc "$1" | sed -n 's/^Version: //p')
    fi
  fi
  local version
  for version in $(echo "$versions" | sort -rVu); do
    if (cd "$2" && apt-get source -qq "$1=$version" >&2); then
      return 0
    fi
    echo "The source of $1 $version could not be fetched; trying an older one." >&2
    find "$2" -mindepth 1 -delete
  done
  echo "No source of $1 could be fetched." >&2
  exit 1
}

# Builds something kept in a cache once: runs the command unless the stamp
# file is there, then makes the stamp. Tells which, and how long the build took.
#   build_once STAMP WHAT COMMAND...
build_once() {
  local stamp="$1" what="$2" start
  shift 2
  if [ -f "$stamp" ]; then
    echo "$what: cached in $(dirname "$stamp")" >&2
    return
  fi
  echo "Building $what..." >&2
  start=$(date +%s)
  "$@"
  touch "$stamp"
  echo "$what built in $(($(date +%s) - start)) s" >&2
}
