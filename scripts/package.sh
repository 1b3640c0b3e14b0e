#!/usr/bin/env bash
# Builds the Linux and the Windows program, only what the packages hold, and
# packs each into dist/, which then holds only the packages:
# tunnelconsole-<version>-linux-<cpu>.tar.gz (with README.txt, the guide from
# packaging/linux-guide.txt) and tunnelconsole-<version>-win32.zip (with
# README.txt, the guide for Windows users from packaging/windows-guide.txt,
# in CR LF). The build's lines go to <build folder>/package-build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
mkdir -p dist
# What an older version of this script left.
rm -rf dist/_CPack_Packages
for preset in default win32; do
  dir=build
  targets=(tunnelconsole veskDllTunnel)
  if [ "$preset" = win32 ]; then
    dir=build-win32
    targets+=(tunnelconsole_console)
  fi
  mkdir -p "$dir"
  log=$dir/package-build.log
  echo "== building the $preset program (log: $log)"
  # The package's install step then builds nothing more than these targets:
  # no test program.
  if ! { cmake --preset "$preset" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON &&
    cmake --build --preset "$preset" -j "$(nproc)" --target "${targets[@]}"; } >"$log" 2>&1; then
    tail -n 30 "$log"
    exit 1
  fi
  echo "== packing it"
  # cpack works in a folder of its own, left in the build folder.
  (cd "$dir" && cpack -B "$PWD/package" >>package-build.log)
  find "$dir/package" -maxdepth 1 -type f -name 'tunnelconsole-*' -exec mv -t dist/ {} +
  rm -rf "$dir/package"
done
ls -l dist/
