#!/usr/bin/env bash
# Cross-compiles the 32-bit Windows build into build/win32.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
cmake --build build/win32 -j "$(nproc)"
