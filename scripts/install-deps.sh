#!/usr/bin/env bash
# Installs what building and testing Mailsheaf needs on a Debian 12 machine, as root, and
# prepares a quiet Wine prefix. Safe to run again: it installs only what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  fresh_arch=1
fi

for p in cmake ninja-build g++ make googletest zlib1g-dev pkg-config \
         gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
         libz-mingw-w64-dev wine wine32:i386 xvfb xauth x11-apps imagemagick \
         fonts-wine python3 tar gzip pigz file time \
         libssl-dev openssl dovecot-imapd "$@"; do
  have "$p" || need+=("$p")
done
# npm fetches the real-mail test corpus; a machine whose Node.js comes with npm has it already.
command -v npm >/dev/null 2>&1 || need+=(npm)

if [ "${#need[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The posix thread model gives std::thread to the Windows build.
for t in gcc g++; do
  if [ -e "/usr/bin/i686-w64-mingw32-$t-posix" ]; then
    update-alternatives --set "i686-w64-mingw32-$t" "/usr/bin/i686-w64-mingw32-$t-posix" >/dev/null 2>&1 || true
  fi
done

"$(dirname "$0")/wine-prefix.sh"
