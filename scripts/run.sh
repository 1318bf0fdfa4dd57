#!/usr/bin/env bash
# Builds Mailsheaf.exe and starts it under Wine on this display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build-windows.sh
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: set DISPLAY (or run through xvfb-run) to see the window." >&2
  exit 1
fi
exec scripts/wine-run.sh build/win32/Mailsheaf.exe
