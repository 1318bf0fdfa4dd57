#!/usr/bin/env bash
# Creates the Wine prefix the project runs in, without dialogs (no Mono or Gecko prompts):
#   scripts/wine-prefix.sh            the 32-bit prefix, ~/.wine-mailsheaf
#   scripts/wine-prefix.sh --win64    the 64-bit one for the 64-bit test build, ~/.wine-mailsheaf64
set -euo pipefail
_mailsheaf_scripts="$(dirname "${BASH_SOURCE[0]}")"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "${1:-}" = --win64 ]; then
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mailsheaf64}"
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  # A prefix whose first setup stopped short has a registry but no programs; its setup is run
  # again.
  if [ ! -f "$WINEPREFIX/drive_c/windows/system32/cmd.exe" ]; then
    # wineboot also sets up the prefix's 32-bit half with a 32-bit program. Where the kernel
    # cannot run it, an emulator's entry (qemu-user's binfmt) takes it and the setup lasts
    # minutes instead of seconds; the 64-bit tests need no 32-bit half, so the entry is off
    # meanwhile and that program fails at once.
    (
      entry=/proc/sys/fs/binfmt_misc/qemu-i386
      restore=0
      if [ -w "$entry" ] && head -n 1 "$entry" | grep -qx enabled; then
        echo 0 >"$entry" && restore=1
      fi
      trap '[ "$restore" = 1 ] && echo 1 >"$entry"' EXIT
      "$WINELOADER" wineboot.exe --init >/dev/null 2>&1
      wineserver -w
    ) || true
  fi
else
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mailsheaf}"
  export WINEARCH=win32
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$_mailsheaf_scripts/with-native-32-bit.sh" bash -c \
      'wineboot --init >/dev/null 2>&1; wineserver -w' || true
  fi
fi
