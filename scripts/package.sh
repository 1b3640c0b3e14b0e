#!/usr/bin/env bash
# Builds the Linux and the Windows program and packs each into dist/:
# tunnelconsole-<version>-linux-<cpu>.tar.gz (with README.md) and
# tunnelconsole-<version>-win32.zip (with README.txt, the short guide for
# Windows users from packaging/windows-guide.txt, in CR LF).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
for preset in default win32; do
  echo "== building and packing the $preset program"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
  (cd "build$([ "$preset" = default ] || echo "-$preset")" && cpack)
done
ls -l dist/*.tar.gz dist/*.zip
