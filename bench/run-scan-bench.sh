#!/usr/bin/env bash
# Builds the Windows benchmarks and runs the message scan benchmark under Wine and Xvfb (the scan
# drives a real hidden window). Arguments go to the benchmark, e.g. --files 5000 --folders 50.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh >/dev/null
exec xvfb-run -a scripts/wine-run.sh build/win32/bench/scan_win32/scan_bench.exe "$@"
