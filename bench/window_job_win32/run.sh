#!/usr/bin/env bash
# The window's whole job under Wine on the benchmark's tree (bench/archive/make_tree.py): the
# real window, shown on Xvfb, scans the tree (a click on "Select folder having (*.eml)
# file(s)...", to the count box) and writes the archive (a click on "Start Conversion", to the
# "Completed..." box). Two runs, each under an Xvfb of its own; prints both and the best total,
# with that run's scan and write.
#
#   bench/window_job_win32/run.sh [MESSAGES]     (default 50000; RUNS=N to change the runs)
#
# Wine runs in the project's prefix (scripts/wine-prefix.sh; WINEPREFIX overrides it).
set -euo pipefail
cd "$(dirname "$0")/../.."
messages=${1:-50000}
runs=${RUNS:-2}

for tool in python3 wine wineserver winepath xvfb-run; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

build=build/win32-bench
mkdir -p "$build"
{ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DBUILD_TESTING=ON &&
  cmake --build "$build" -j "$(nproc)" --target window_job; } >"$build/window_job-build.log" 2>&1 || {
  cat "$build/window_job-build.log" >&2; exit 1; }
job=$PWD/$build/bench/window_job_win32/window_job.exe
[ -d build/corpus ] || bash tests/archive/fetch-corpus.sh build/corpus

source scripts/wine-prefix.sh
export WINEDEBUG=-all
# The wineserver stays up for the whole run, so that no run pays for its start.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

work=$(mktemp -d "${TMPDIR:-/tmp}/mailsheaf-window-job-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "Making the tree ($messages messages)..."
python3 bench/archive/make_tree.py build/corpus "$work/tree" "$messages"
folders=$(find "$work/tree" -mindepth 1 -type d | wc -l)
# Read every file once, so that each run finds the tree in the page cache.
find "$work/tree" -type f -exec cat {} + >/dev/null
mkdir "$work/out"
tree_w=$(winepath -w "$work/tree")
out_w=$(winepath -w "$work/out/window.tgz")

best="" best_run=""
for ((run = 1; run <= runs; run++)); do
  rm -f "$work/out/"*
  echo
  echo "Run $run (load $(cut -d' ' -f1-3 /proc/loadavg)):"
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$job" "$tree_w" "$out_w" "$messages" "$folders" </dev/null >"$work/raw.txt" \
    2>"$work/stderr.txt" || status=$?
  # Wine's desktop process complains when its Xvfb goes away at the end; nothing else is noise.
  grep -v '^X connection to .* broken' "$work/stderr.txt" >&2 || true
  if [ "${status:-0}" != 0 ]; then
    tr -d '\r' <"$work/raw.txt"; echo "run $run failed ($status)" >&2; exit 1
  fi
  tr -d '\r' <"$work/raw.txt" >"$work/run$run.txt"
  cat "$work/run$run.txt"
  total=$(sed -n 's/^total: *\([0-9.]*\) s$/\1/p' "$work/run$run.txt")
  if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $total < $best else 1)"; then
    best=$total best_run=$run
  fi
done
gzip -t "$work/out/window.tgz"

echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Wine: $(wine --version), tree: $messages messages in $folders folders, $(du -sb "$work/tree" | cut -f1) bytes"
echo "Archive: $(stat -c %s "$work/out/window.tgz") bytes"
echo "Best of $runs (run $best_run):"
grep -E '^(scan|write|total)' "$work/run$best_run.txt"
