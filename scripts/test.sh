#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, then a build
# with AddressSanitizer and UndefinedBehaviorSanitizer, where any report
# fails the run; then the Windows builds and their tests under Wine
# (scripts/build-windows.sh --test); then runs every fuzz target briefly (FUZZ_SECONDS, 30 s
# each by default) on its seed corpus. Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

JOBS=${JOBS:-$(nproc)}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 300 "${CTEST_ARGS[@]}"
}

CTEST_ARGS=("$@")

echo "== normal build =="
run_suite build

echo "== sanitizer build (address, undefined) =="
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:halt_on_error=1:detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
run_suite build-sanitize -DOSTREL_SANITIZE=ON

echo "== Windows builds (MinGW-w64), their tests under Wine =="
./scripts/build-windows.sh --test

echo "== fuzzing: every target ${FUZZ_SECONDS:-30} s on its seed corpus =="
./scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

echo "== all tests passed in both Linux builds and under Wine, and the fuzz targets ran clean =="
