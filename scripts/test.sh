#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the Linux program as
# shipped, under the address and undefined-behaviour sanitizers and (its
# concurrency cases) under the thread sanitizer, a short run of each fuzz
# target, then the Windows program under Wine, driven by the same end-to-end
# cases.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
jobs=$(nproc)

for preset in default asan; do
  echo "== $preset: build and test"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# The concurrency cases (signals, pipes, the library's log thread) under the
# thread sanitizer.
echo "== tsan: build and test the concurrency cases"
cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs"

echo "== fuzz: each target for a short while, its seeds first"
scripts/fuzz.sh 10

echo "== win32: build, then test under Wine"
cmake --preset win32
cmake --build --preset win32 -j "$jobs"
export WINEDEBUG=-all
# No .NET or HTML engine prompts: the programs under test need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine makes its prefix on first use; do it once, before tests run in parallel.
wineboot --init >/dev/null 2>&1 || true
ctest --preset win32 -j "$jobs"
wineserver --kill >/dev/null 2>&1 || true

echo "== win32-stdcall: the variant for a stdcall library builds and binds by ordinal"
cmake --preset win32-stdcall
cmake --build --preset win32-stdcall -j "$jobs"
bash tests/win32/check_binding.sh i686-w64-mingw32-objdump build-win32-stdcall/bin
