# shellcheck shell=bash
# Sourced by package-linux.sh and check-linux.sh: the Debian 11 (bullseye)
# root the Linux release is built and checked in. Its glibc (2.31) and GCC 10
# make a library that loads on glibc 2.31 and later; Debian 12's libstdc++.a
# would need __libc_single_threaded, which came with glibc 2.32.
#
# The root lives outside the clone, in $CORVEX_LINUX_ROOT (default
# ~/.cache/corvex-linux-root), and is made once with debootstrap from the
# archive the machine's own apt entries name. Remove it to make it again.
# chroot needs root.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

linux_root="${CORVEX_LINUX_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/corvex-linux-root}"
# Raise when the way the root is made changes.
linux_root_recipe=1
linux_root_suite=bullseye
linux_root_packages=gcc,g++,make,cmake,perl,ca-certificates

# The name of the release archive and of its top folder.
linux_release_name() {
  echo "corvex-tracking-$1-linux-x64"
}

# The archive of the machine's own release, as its apt entries name it: the
# one that serves the suite of the release's code name.
debian_archive() {
  local codename uri attempt
  codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
  for attempt in listed updated; do
    uri=$(apt-cache policy | awk -v suite="$codename" '
      uri == "" && $2 ~ /:\/\// && index($3, suite "/") == 1 { uri = $2; sub(/\/$/, "", uri); print uri }')
    [ -z "$uri" ] || break
    # apt lists only the archives whose indexes it has fetched.
    [ "$attempt" = updated ] || apt_update
  done
  if [ -z "$uri" ]; then
    echo "No apt entry names the archive of $codename." >&2
    return 1
  fi
  echo "$uri"
}

# Runs the command in the root, with /dev and /proc mounted for it alone (in a
# mount namespace of its own, so nothing stays mounted afterwards) and a clean
# environment.
in_linux_root() {
  unshare --mount --propagation private -- sh -c '
    root=$1; shift
    mount --rbind /dev "$root/dev" && mount -t proc proc "$root/proc" &&
      exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        LANG=C.UTF-8 "$@"' sh "$linux_root" "$@"
}

# Makes the root: debootstrap, then Debian 12's nlohmann JSON headers
# (architecture "all"), which the library needs at 3.11.
make_linux_root() {
  install_missing_packages debootstrap
  local archive work="$linux_root.partial"
  archive=$(debian_archive)
  echo "Debian 11 from $archive into $linux_root" >&2
  rm -rf "$linux_root" "$work"
  mkdir -p "$(dirname "$linux_root")"
  debootstrap --variant=minbase --include="$linux_root_packages" \
    "$linux_root_suite" "$work" "$archive" >&2
  local debs="$work/tmp/corvex-debs"
  mkdir -p "$debs"
  apt-cache show nlohmann-json3-dev >/dev/null 2>&1 || apt_update
  (cd "$debs" && apt-get download -qq -o APT::Sandbox::User=root nlohmann-json3-dev >&2)
  mv "$work" "$linux_root"
  in_linux_root sh -c 'dpkg -i /tmp/corvex-debs/*.deb >/dev/null && rm -rf /tmp/corvex-debs' >&2
}

# Makes the root unless it is there already.
prepare_linux_root() {
  build_once "$linux_root/.corvex-root-$linux_root_recipe" "the Debian 11 root" make_linux_root
}
