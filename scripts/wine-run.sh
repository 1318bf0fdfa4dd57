#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix, quietly; ctest's emulator for the
# Windows build.
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mailsheaf}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine's background processes (wineserver, services, explorer) inherit the descriptors of the
# program that starts them and outlive it; started from here they would hold ctest's output
# pipe open and every test would hang until its timeout. Start them detached first.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
exec wine "$@"
