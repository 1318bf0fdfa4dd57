#!/usr/bin/env bash
# Writes a PNG picture of Mailsheaf's window, title bar included, as Wine shows it on a virtual
# X display. Builds the program first when needed.
#
#   scripts/screenshot.sh [picture.png]     (default: docs/mailsheaf-window.png)
#   scripts/screenshot.sh --finished-run [picture.png]
#                                           (default: docs/mailsheaf-finished-run.png)
#   scripts/screenshot.sh --account-dialog [picture.png]
#                                           (default: docs/mailsheaf-account-dialog.png)
#   scripts/screenshot.sh --account-run [picture.png]
#                                           (default: docs/mailsheaf-account-run.png)
#
# --finished-run pictures the window at the end of a whole run on a small sample tree, with
# its completion box (MailsheafFinishedRun.exe, built from tools/win32/finished_run_demo.cpp:
# the real window, scan and archive writer; the folder browser and the save dialog answer by
# themselves).
#
# It runs in a Wine prefix of its own (build/wine-screenshot) that holds Wine's own fonts, so
# the labels show in Tahoma as on Windows; the project's test prefix is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
program=Mailsheaf.exe
wait_for="Corvane Mailsheaf v3.0"
out=docs/mailsheaf-window.png
if [ "${1:-}" = "--finished-run" ]; then
  shift
  program=MailsheafFinishedRun.exe
  wait_for="Completed..."
  out=docs/mailsheaf-finished-run.png
  export MAILSHEAF_PAINT_WAIT=8   # a message box takes longer to paint under Wine
fi
program_args=""
if [ "${1:-}" = "--account-dialog" ] || [ "${1:-}" = "--account-run" ]; then
  # MailsheafAccountRun.exe (tools/win32/account_run_demo.cpp): the real window and dialog; the
  # run is played from a script, no server is reached.
  program=MailsheafAccountRun.exe
  if [ "$1" = "--account-dialog" ]; then
    program_args=dialog
    wait_for="Send to Mail Account"
    out=docs/mailsheaf-account-dialog.png
  else
    program_args=finished
    wait_for="Sent to the Mail Account"
    out=docs/mailsheaf-account-run.png
  fi
  export MAILSHEAF_PAINT_WAIT=8
  shift
fi
out="${1:-$out}"
case "$out" in /*) ;; *) out="$root/$out" ;; esac
mkdir -p "$(dirname "$out")"

scripts/build-windows.sh >/dev/null

export WINEPREFIX="$root/build/wine-screenshot"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init </dev/null >/dev/null 2>&1 || true
  wineserver -w || true
fi
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi

exe="Z:$(printf '%s' "$root/build/win32/$program" | tr / '\\')"
export MAILSHEAF_EXE="$exe" MAILSHEAF_PICTURE="$out" MAILSHEAF_WAIT_FOR="$wait_for"
export MAILSHEAF_ARGS="$program_args"

# Wine's virtual desktop draws the window frame itself: no window manager is needed.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  wine explorer /desktop=Mailsheaf,1024x768 "$MAILSHEAF_EXE" $MAILSHEAF_ARGS </dev/null >/dev/null 2>&1 &
  wine_pid=$!
  geometry=""
  for _ in $(seq 1 120); do
    if ! xwininfo -root -tree 2>/dev/null | grep -qF "\"$MAILSHEAF_WAIT_FOR\""; then
      sleep 0.5
      continue
    fi
    geometry=$(xwininfo -root -tree 2>/dev/null |
               sed -n "s/.*\"Corvane Mailsheaf v3.0\".* \([0-9]*x[0-9]*+[0-9]*+[0-9]*\) .*/\1/p" |
               head -n 1)
    [ -n "$geometry" ] && break
    sleep 0.5
  done
  if [ -z "$geometry" ]; then
    echo "The window did not appear." >&2
    kill "$wine_pid" 2>/dev/null || true
    exit 1
  fi
  sleep "${MAILSHEAF_PAINT_WAIT:-3}"   # let it paint
  import -window root -crop "$geometry" +repage "$MAILSHEAF_PICTURE"
  kill "$wine_pid" 2>/dev/null || true
'
echo "Wrote $out"
