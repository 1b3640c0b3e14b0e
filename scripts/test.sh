#!/usr/bin/env bash
# Builds everything and runs the whole test suite: once as shipped, once more
# under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in default asan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset" -j "$(nproc)"
done
# The concurrency cases (signals, pipes, the library's log thread) under the
# thread sanitizer.
cmake --preset tsan
cmake --build --preset tsan -j "$(nproc)"
ctest --preset tsan -j "$(nproc)"
# Each fuzz target for a short while, its seeds first.
scripts/fuzz.sh 10
