#!/usr/bin/env bash
# Builds the console and the stand-in tunnel library, then starts the console.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target tunnelconsole >/dev/null
exec build/bin/tunnelconsole
