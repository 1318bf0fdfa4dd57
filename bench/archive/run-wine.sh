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
cd "$(dirname "$0")/../.."
messages=${1:-50000}
runs=${RUNS:-2}

for tool in /usr/bin/time python3 wine wineserver winepath; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench -j "$(nproc)" --target mailsheaf-pack >/dev/null
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
cmake --build build/win32 -j "$(nproc)" --target mailsheaf-pack read_walk >/dev/null
native=$PWD/build/bench/cli/mailsheaf-pack
windows=$PWD/build/win32/cli/mailsheaf-pack.exe
walk=$PWD/build/win32/bench/read_walk_win32/read_walk.exe
bash tests/archive/fetch-corpus.sh build/corpus

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

work=$(mktemp -d "${TMPDIR:-/tmp}/mailsheaf-wine-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "Making the tree ($messages messages)..."
python3 bench/archive/make_tree.py build/corpus "$work/tree" "$messages"
find "$work/tree" -type f -exec cat {} + >/dev/null
tree_w=$(winepath -w "$work/tree")
out_w=$(winepath -w "$work/windows.tgz")

server_ticks() { if [ -n "$server_pid" ]; then awk '{print $14 + $15}' "/proc/$server_pid/stat"; else echo 0; fi; }

declare -A wall cpu server
measure() {
  local name=$1 output=$2
  shift 2
  local best=""
  for ((run = 1; run <= runs; run++)); do
    [ -z "$output" ] || rm -f "$output"
    local before after
    before=$(server_ticks)
    /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" || {
      cat "$work/stderr.txt" >&2; exit 1; }
    after=$(server_ticks)
    read -r elapsed user system <"$work/time.txt"
    if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $elapsed < $best else 1)"; then
      best=$elapsed
      wall[$name]=$elapsed
      cpu[$name]=$(python3 -c "print($user + $system)")
      server[$name]=$(python3 -c "print(($after - $before) / $(getconf CLK_TCK))")
    fi
  done
}

echo "Packing..."
measure native "$work/native.tgz" "$native" "$work/tree" "$work/native.tgz"
measure windows "$work/windows.tgz" wine "$windows" "$tree_w" "$out_w"
measure walk "" wine "$walk" "$tree_w"
echo "bare walk: $(cat "$work/stdout.txt")"
if cmp "$work/native.tgz" "$work/windows.tgz"; then same=yes; else same=NO; fi

echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Wine: $(wine --version), tree: $messages messages, $(du -sb "$work/tree" | cut -f1) bytes"
printf '%-30s %8s %8s %14s\n' "" "wall s" "cpu s" "wineserver s"
for name in native windows walk; do
  printf '%-30s %8.2f %8.2f %14.2f\n' "$name" "${wall[$name]}" "${cpu[$name]}" "${server[$name]}"
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
