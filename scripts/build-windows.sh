#!/usr/bin/env bash
# Cross-compiles the Windows build:
#   scripts/build-windows.sh            the 32-bit build, into build/win32
#   scripts/build-windows.sh --win64    the same code for 64-bit Windows, into build/win64: only
#                                       the test programs and what they run, for the Windows
#                                       tests where 32-bit programs cannot run
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/win32 toolchain=cmake/toolchain-i686-mingw.cmake target=all
if [ "${1:-}" = --win64 ]; then
  build=build/win64 toolchain=cmake/toolchain-x86_64-mingw.cmake target=test_programs
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$target"
