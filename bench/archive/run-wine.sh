#!/usr/bin/env bash
# The Windows packer under Wine against the native packer, in one run, on the benchmark's tree
# (bench/archive/make_tree.py): the native mailsheaf-pack, mailsheaf-pack.exe under Wine, and
# as the floor a bare Win32 walk under Wine (bench/read_walk_win32: FindFirstFileW listings,
# every file read whole with CreateFileW / ReadFile). Best wall time of RUNS runs each (default
# 2), CPU time of that run, the wineserver's CPU time during it; then the ratios, and cmp of
# the two archives, which must be the same bytes.
#
#   bench/archive/run-wine.sh [MESSAGES]     (default 50000; RUNS=N to change the runs)
#
# Wine runs in the project's prefix (scripts/wine-prefix.sh; WINEPREFIX overrides it).
set -euo pipefail
# shellcheck source=bench/archive/common.sh
source "$(dirname "$0")/common.sh" "$@"

require_tools /usr/bin/time python3 wine wineserver winepath
build_native_pack
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
cmake --build build/win32 -j "$(nproc)" --target mailsheaf-pack read_walk >/dev/null
windows=$PWD/build/win32/cli/mailsheaf-pack.exe
walk=$PWD/build/win32/bench/read_walk_win32/read_walk.exe
fetch_corpus

source scripts/wine-prefix.sh
export WINEDEBUG=-all
# The wineserver stays up for the whole run, so that no contender pays for its start.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
server_pid=""
for pid in $(pgrep -x wineserver32 || pgrep -x wineserver || true); do
  case $(readlink "/proc/$pid/cwd") in */"$server_dir") server_pid=$pid ;; esac
done
# measure keeps the wineserver's CPU ticks during each contender's fastest run.
measure_counter() { if [ -n "$server_pid" ]; then awk '{print $14 + $15}' "/proc/$server_pid/stat"; else echo 0; fi; }

make_work mailsheaf-wine-bench
make_tree "$messages"
warm_tree
tree_w=$(winepath -w "$work/tree")
out_w=$(winepath -w "$work/windows.tgz")

echo "Packing..."
measure native "$work/native.tgz" "$native_pack" "$work/tree" "$work/native.tgz"
measure windows "$work/windows.tgz" wine "$windows" "$tree_w" "$out_w"
measure walk "" wine "$walk" "$tree_w"
echo "bare walk: $(cat "$work/stdout.txt")"
if cmp "$work/native.tgz" "$work/windows.tgz"; then same=yes; else same=NO; fi

echo
machine
echo "Wine: $(wine --version), tree: $messages messages, $(du -sb "$work/tree" | cut -f1) bytes"
printf '%-30s %8s %8s %14s\n' "" "wall s" "cpu s" "wineserver s"
for name in native windows walk; do
  printf '%-30s %8.2f %8.2f %14.2f\n' "$name" "${wall[$name]}" "${cpu[$name]}" \
    "$(awk -v t="${counted[$name]}" -v hz="$(getconf CLK_TCK)" 'BEGIN { print t / hz }')"
done
python3 - "${wall[native]}" "${wall[windows]}" "${wall[walk]}" <<'PY'
import sys
native, windows, walk = map(float, sys.argv[1:])
ratio = windows / native
print()
print(f"{'wall, Windows under Wine / native':<40} {ratio:7.2f}   target <= 1.5   {'ok' if ratio <= 1.5 else 'MISSED'}")
print(f"{'wall, bare walk under Wine / native':<40} {walk / native:7.2f}")
PY
echo "archives the same bytes: $same"
[ "$same" = yes ]
