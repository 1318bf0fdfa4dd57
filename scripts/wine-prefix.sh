#!/usr/bin/env bash
# Creates the 32-bit Wine prefix the project runs in, without dialogs (no Mono or Gecko prompts).
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mailsheaf}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$(dirname "$0")/with-native-32-bit.sh" bash -c \
    'wineboot --init >/dev/null 2>&1; wineserver -w' || true
fi
