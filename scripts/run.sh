#!/usr/bin/env bash
# Builds the console and the stand-in tunnel library, then starts the console.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
echo "== building tunnelconsole in build/ (a first build takes a minute or two)"
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target tunnelconsole
echo "== starting build/bin/tunnelconsole (type quit to end)"
exec build/bin/tunnelconsole
