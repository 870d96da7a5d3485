#!/usr/bin/env bash
# Cross-builds the Windows module with Debian's MinGW-w64:
#   build-win32/src/com/OstrelAntiPhishingBHO.dll  (32-bit, the browser's own)
#   build-win64/src/com/OstrelAntiPhishingBHO.dll  (64-bit)
# Usage: scripts/build-windows.sh [--test]
# With --test it also builds the Windows test programs and runs them: the
# export and resource checks for both, and the 64-bit test programs under
# Wine (wine64, headless, in a private prefix inside build-win64/).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

TESTS=OFF
if [ "${1:-}" = "--test" ]; then TESTS=ON; fi
JOBS=${JOBS:-$(nproc)}

for bits in 32 64; do
  arch=$([ "$bits" = 32 ] && echo i686 || echo x86_64)
  dir=build-win$bits
  echo "== Windows $bits-bit ($dir) =="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-$arch.cmake -DOSTREL_BUILD_TESTS=$TESTS
  cmake --build "$dir" -j "$JOBS"
  if [ "$TESTS" = ON ]; then
    ctest --test-dir "$dir" --output-on-failure --timeout 600
  fi
done

echo "built: build-win32/src/com/OstrelAntiPhishingBHO.dll build-win64/src/com/OstrelAntiPhishingBHO.dll"
