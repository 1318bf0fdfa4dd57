#!/usr/bin/env bash
# Builds everything and runs every test: the native build with AddressSanitizer and UBSan, then
# the 32-bit Windows build under Wine (and Xvfb, for the tests that open windows).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMAILSHEAF_SANITIZE=ON >/dev/null
cmake --build build/linux -j "$jobs"
ctest --test-dir build/linux --output-on-failure -j "$jobs"

scripts/build-windows.sh
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build/win32 --output-on-failure -j "$jobs"
