#!/usr/bin/env bash
# Counts the calls between folders along four walks (docs/architecture.md):
# a command line read from a pipe, the same typed at a terminal, a library
# message while a line is typed, and tunnel.cfg's rewrite at a first start.
# Builds the Linux program with every function instrumented (-O0, so nothing
# is inlined away), runs each walk and the same session without it (or, for
# tunnel.cfg, counts the calls made within its preparation), and prints the
# difference by kind of call.
#
#   bench/crossings.sh [CHECKOUT]    CHECKOUT: another tree, say an older one
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-$here}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cc -O2 -c -o "$work/trace.o" "$here/bench/crossings_trace.c"
cmake -S "$tree" -B "$work/build" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="-O0 -finstrument-functions" -DCMAKE_POSITION_INDEPENDENT_CODE=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="-no-pie $work/trace.o" >/dev/null
cmake --build "$work/build" -j2 --target tunnelconsole veskDllTunnel >/dev/null
echo "built $tree" >&2
app=$work/app
mkdir "$app"
cp "$work"/build/bin/tunnelconsole "$work"/build/bin/libveskDllTunnel.so "$tree/samples/tunnel.cfg" "$app"/
printf '[config]\r\ndevice_id=walk\r\n' >"$app/config.ini"
export HOME=$work/home TERM=xterm LC_ALL=C.UTF-8

# traced TRACE COMMAND...: runs the program with its calls recorded, each run
# as the first in its folder (tunnel.cfg as shipped) and its home.
traced() {
  local trace=$1
  shift
  rm -f "$trace"
  cp "$tree/samples/tunnel.cfg" "$app/"
  rm -rf "$app/Home" "$HOME"
  mkdir "$HOME"
  CROSSINGS_TRACE=$trace "$@"
}

# A pty session: KEYS are sent one group at a time, each once TEXT is seen.
typed() {
  python3 - "$app/tunnelconsole" "$@" <<'PYTHON'
import os, pty, sys
program, steps = sys.argv[1], sys.argv[2:]
pid, terminal = pty.fork()
if pid == 0:
    os.execv(program, [program])
seen = b""
for wait_for, keys in zip(steps[::2], steps[1::2]):
    while wait_for.encode() not in seen:
        seen += os.read(terminal, 4096)
    seen = seen[seen.index(wait_for.encode()) + len(wait_for):]
    os.write(terminal, keys.encode())
try:
    while os.read(terminal, 4096):
        pass
except OSError:
    pass
os.waitpid(pid, 0)
PYTHON
}

# count [--within FUNCTION] TRACE [TRACE_WITHOUT]
count() {
  local within=()
  if [ "$1" = --within ]; then
    within=(--within "$2")
    shift 2
  fi
  python3 "$here/bench/crossings.py" "${within[@]}" "$app/tunnelconsole" "$tree" "$@"
}

echo "== a command line from a pipe: versionget, to the library and its line"
printf 'versionget\nquit\n' | traced "$work/pipe" "$app/tunnelconsole" >/dev/null
printf 'quit\n' | traced "$work/pipe0" "$app/tunnelconsole" >/dev/null
count "$work/pipe" "$work/pipe0"

echo "== a command line typed at a terminal: versionget and Enter in one read"
traced "$work/typed" typed '> ' $'versionget\r' 'Version' '' '> ' $'quit\r'
traced "$work/typed0" typed '> ' $'quit\r'
count "$work/typed" "$work/typed0"

echo "== a library message while a line is typed (thread 2: the library's)"
TUNNEL_SIM_LOG_THREAD=1500000 traced "$work/message" typed '> ' 'ver' 'heartbeat 1' $'\x15quit\r'
traced "$work/message0" typed '> ' 'ver' '' $'\x15quit\r'
count "$work/message" "$work/message0"

echo "== tunnel.cfg at a first start: read, compared, rewritten and replaced"
printf 'quit\n' | traced "$work/config" "$app/tunnelconsole" >/dev/null
count --within PrepareTunnelConfig "$work/config"
