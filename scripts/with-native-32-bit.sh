#!/usr/bin/env bash
# Runs a command where 32-bit x86 programs (Wine's loader) run on the machine's own kernel:
#   scripts/with-native-32-bit.sh COMMAND...
# Exits 3 without running it when the kernel cannot run them. Some kernels cannot; there an
# emulator's entry (qemu-user's binfmt) takes 32-bit programs, and Wine through it is far too
# slow for the tests (minutes to start each program). Where the kernel can, that entry would
# still be asked first, so it is switched off while the command runs and restored after.
set -uo pipefail

loader=/usr/lib/wine/wine
entry=/proc/sys/fs/binfmt_misc/qemu-i386
[ -x "$loader" ] || exit 3

restore=0
if [ -w "$entry" ] && head -n 1 "$entry" | grep -qx enabled; then
  echo 0 >"$entry" && restore=1
fi
trap '[ "$restore" = 1 ] && echo 1 >"$entry"' EXIT

if ! "$loader" --version >/dev/null 2>&1; then
  exit 3
fi
"$@"
