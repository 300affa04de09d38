# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine.

wine_dir=/usr/lib/wine

# Prepares a Wine prefix of its own in the folder given: no display, no debug
# output, no offer to install Mono or Gecko, Windows 10 (the product's
# platform; Debian's Wine sets up Windows 7). A server that stays up (until
# stop_wine) and a prefix booted once keep each program from waiting on Wine's
# start-up.
start_wine() {
  export WINEPREFIX="$1"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
  mkdir -p "$WINEPREFIX"
  "$wine_dir/wineserver" -p
  "$wine_dir/wine64" wineboot --init </dev/null >/dev/null 2>&1
  "$wine_dir/wine64" winecfg -v win10 </dev/null >/dev/null 2>&1
}

stop_wine() {
  "$wine_dir/wineserver" -k 2>/dev/null || true
}
