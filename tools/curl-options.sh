# shellcheck shell=bash
# Sourced by tools/setup-windows.sh and tools/release/package-linux.sh: what
# both libcurl builds leave out of Debian's curl source, given to its
# configure. HTTP and HTTPS (through HTTP and HTTPS proxies) only: no
# compression, IDN, public suffix list, HTTP/2, SSH, LDAP or other protocol,
# and no certificate authority bundle or folder of its own (the library sets
# one, or the system's TLS store is used).
# shellcheck disable=SC2034 # used by the scripts that source this file
curl_feature_options=(
  --without-zlib --without-brotli --without-zstd --without-libpsl --without-libidn2
  --without-nghttp2 --without-libssh2 --without-libssh --without-librtmp
  --without-libgsasl --without-hyper --without-ca-bundle --without-ca-path
  --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet
  --disable-tftp --disable-pop3 --disable-imap --disable-smb --disable-smtp
  --disable-gopher --disable-mqtt --disable-ftp --disable-file --disable-manual
)
