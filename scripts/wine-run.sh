#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix, quietly; ctest's emulator for the
# Windows build:
#   scripts/wine-run.sh PROGRAM ARGS...            32-bit Wine, ~/.wine-mailsheaf
#   scripts/wine-run.sh --win64 PROGRAM ARGS...    64-bit Wine, ~/.wine-mailsheaf64
if [ "${1:-}" = --win64 ]; then
  shift
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mailsheaf64}"
  export WINEARCH=win64
  # Debian's `wine` starts the 32-bit loader whenever wine32 is installed, even where the
  # kernel cannot run it; the 64-bit loader is called by its own name.
  export WINELOADER=/usr/lib/wine/wine64
  wine=$WINELOADER
else
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mailsheaf}"
  export WINEARCH=win32
  wine=wine
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine's background processes (wineserver, services, explorer) inherit the descriptors of the
# program that starts them and outlive it; started from here they would hold ctest's output
# pipe open and every test would hang until its timeout. Start them detached first.
wineserver -p </dev/null >/dev/null 2>&1 || true
"$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
exec "$wine" "$@"
