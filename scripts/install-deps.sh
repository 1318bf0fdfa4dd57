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

# The x86-64 compilers and wine64 are for where the kernel cannot run 32-bit programs: there the
# Windows tests run on a 64-bit build under 64-bit Wine (libz-mingw-w64-dev has zlib for both).
for p in cmake ninja-build g++ make googletest zlib1g-dev pkg-config \
         gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
         libz-mingw-w64-dev wine wine32:i386 xvfb xauth x11-apps imagemagick \
         fonts-wine python3 tar gzip pigz file time \
         libssl-dev openssl dovecot-imapd \
         gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
         mingw-w64-x86-64-dev wine64 "$@"; do
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
for m in i686 x86_64; do
  for t in gcc g++; do
    if [ -e "/usr/bin/$m-w64-mingw32-$t-posix" ]; then
      update-alternatives --set "$m-w64-mingw32-$t" "/usr/bin/$m-w64-mingw32-$t-posix" >/dev/null 2>&1 || true
    fi
  done
done

"$(dirname "$0")/wine-prefix.sh"
