#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each one for
# SECONDS (default 60) on its seed corpus in fuzz/corpus/<name>/. Any crash,
# leak, sanitizer report or slow input (over 10 s) fails the run; what was
# found is left in build-fuzz/artifacts/ to be added to the corpus with its
# fix. New inputs go to a scratch folder, never into the repository.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-60}
shift || true

./scripts/install-deps.sh

BUILD=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*Fuzz.cpp; do
    name=$(basename "$source" Fuzz.cpp)
    targets+=("${name,,}")
  done
fi

mkdir -p "$BUILD/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
failed=()
for name in "${targets[@]}"; do
  binary="$BUILD/fuzz/ostrel_fuzz_$name"
  seeds="fuzz/corpus/$name"
  scratch=$(mktemp -d)
  echo "== fuzz $name for ${SECONDS_EACH}s =="
  if ! "$binary" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$name-" "$scratch" "$seeds" \
        >"$BUILD/artifacts/$name.log" 2>&1; then
    failed+=("$name")
    tail -n 60 "$BUILD/artifacts/$name.log"
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|cov: ' "$BUILD/artifacts/$name.log" | tail -n 3
  fi
  rm -rf "$scratch"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in ${failed[*]} (inputs in $BUILD/artifacts/)" >&2
  exit 1
fi
echo "== every fuzz target ran clean =="
