#!/usr/bin/env bash
# Cross-compiles the Windows build:
#   scripts/build-windows.sh [TARGET...]            the 32-bit build, into build/win32
#   scripts/build-windows.sh --win64 [TARGET...]    the same code for 64-bit Windows, into
#                                                   build/win64, only for the Windows tests where
#                                                   32-bit programs cannot run
# With targets, only those and what they need; without, everything (the 64-bit build: the test
# programs and what they run).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/win32 toolchain=cmake/toolchain-i686-mingw.cmake default=all
if [ "${1:-}" = --win64 ]; then
  shift
  build=build/win64 toolchain=cmake/toolchain-x86_64-mingw.cmake default=test_programs
fi
[ "$#" -gt 0 ] || set -- "$default"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$@"
