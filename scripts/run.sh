#!/usr/bin/env bash
# Builds the console and the stand-in tunnel library, then starts the console.
# The build says a line a step and, at a terminal, how far it has got; its
# own lines go to build/run-build.log, whose end is shown when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
mkdir -p build
log=build/run-build.log

# Shows the end of the log and fails.
failed() {
  echo "== $1 failed; the end of $log:"
  tail -n 30 "$log"
  exit 1
}

# Reads the build's lines, keeps them in the log, and shows its percentage
# on one line at a terminal.
progress() {
  local line
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    if [ -t 1 ] && [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
      printf '\r   %s%% built' "${BASH_REMATCH[1]}"
    fi
  done
  if [ -t 1 ]; then
    printf '\r%-16s\r' ''
  fi
}

echo "== configuring build/"
cmake --preset default >"$log" 2>&1 || failed "configuring"
echo "== building tunnelconsole (a first build takes about two minutes)"
cmake --build --preset default -j "$(nproc)" --target tunnelconsole 2>&1 | progress ||
  failed "building"
echo "== starting build/bin/tunnelconsole (type quit to end)"
exec build/bin/tunnelconsole
