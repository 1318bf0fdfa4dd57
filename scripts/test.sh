#!/usr/bin/env bash
# Builds everything and runs every test: the native build with AddressSanitizer and UBSan, then
# the 32-bit Windows build under Wine (and Xvfb, for the tests that open windows). Where the
# kernel cannot run 32-bit programs, the Windows tests run on the same code built for 64-bit
# Windows, under 64-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMAILSHEAF_SANITIZE=ON >/dev/null
cmake --build build/linux -j "$jobs"
ctest --test-dir build/linux --output-on-failure -j "$jobs"

status=0
scripts/with-native-32-bit.sh true || status=$?
if [ "$status" = 3 ]; then
  echo "This machine's kernel does not run 32-bit programs (and Wine through an emulator is far" \
       "too slow): the 32-bit programs are built, and the Windows tests run on the 64-bit build" \
       "(build/win64) under 64-bit Wine."
  # The 32-bit test programs could not run here; building them would only cost time.
  scripts/build-windows.sh Mailsheaf mailsheaf-pack
  scripts/build-windows.sh --win64
  scripts/wine-prefix.sh --win64
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build/win64 --output-on-failure -j "$jobs"
else
  scripts/build-windows.sh
  scripts/with-native-32-bit.sh xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build/win32 --output-on-failure -j "$jobs"
fi
