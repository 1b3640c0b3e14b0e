#!/usr/bin/env bash
# Adversarial trials of a built program folder (default build/bin), as
# recorded in docs/fuzzing.md: kill -9 during the tunnel.cfg rewrite, a full disk at
# ten levels, stop signals at random points, a reader that goes away, closed
# standard streams. Prints one line per kind of trial: tried, and what was
# lost. Usage: bench/fault_trials.sh [program-folder] [rounds]
set -uo pipefail
bin="$(cd "${1:-build/bin}" && pwd)"
rounds="${2:-100}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

lay() {  # a fresh folder with the program, its library and the settings
  rm -rf "$work/app" && mkdir "$work/app"
  cp "$bin/tunnelconsole" "$bin"/*.so "$work/app/"
  printf '[config]\r\ndevice_id=trial\r\n' >"$work/app/config.ini"
  cp "$work/original.cfg" "$work/app/tunnel.cfg"
}

# A large tunnel.cfg, so the rewrite takes long enough to be interrupted.
{
  printf '(DevID){}\r\n(Home){Home}\r\n(LogLevel){2}\r\n'
  for i in $(seq 1 20000); do printf '(Note%d){%s}\n' "$i" "$(printf 'x%.0s' {1..80})"; done
} >"$work/original.cfg"
lay
(cd "$work/app" && ./tunnelconsole </dev/null >/dev/null 2>&1)
cp "$work/app/tunnel.cfg" "$work/rewritten.cfg"

# kill -9 at random points of start-up: tunnel.cfg is the old or the new file,
# whole, and the next start completes the rewrite.
lost=0
stuck=0
left=0
for _ in $(seq "$rounds"); do
  lay
  (cd "$work/app" && exec ./tunnelconsole </dev/null >/dev/null 2>&1) &
  pid=$!
  sleep "0.0$((RANDOM % 60))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  cmp -s "$work/app/tunnel.cfg" "$work/original.cfg" ||
    cmp -s "$work/app/tunnel.cfg" "$work/rewritten.cfg" || lost=$((lost + 1))
  # The next start takes the killed run's temp.cfg for the leftover it is.
  [ ! -e "$work/app/temp.cfg" ] || left=$((left + 1))
  (cd "$work/app" && ./tunnelconsole </dev/null >/dev/null 2>"$work/errors")
  { cmp -s "$work/app/tunnel.cfg" "$work/rewritten.cfg" && [ ! -e "$work/app/temp.cfg" ] &&
    ! grep -q "cfg" "$work/errors"; } || stuck=$((stuck + 1))
done
echo "kill -9 during the rewrite: $rounds runs, tunnel.cfg torn in $lost;" \
  "temp.cfg left by $left, next start failed in $stuck"

# A full disk at ten levels (a file size limit): tunnel.cfg keeps its bytes,
# no temp.cfg stays, one line says why.
lost=0
for level in $(seq 1 10); do
  lay
  (cd "$work/app" && ulimit -f $((level * 180)) && ./tunnelconsole </dev/null >/dev/null 2>"$work/errors")
  cmp -s "$work/app/tunnel.cfg" "$work/original.cfg" || lost=$((lost + 1))
  [ ! -e "$work/app/temp.cfg" ] || lost=$((lost + 1))
  grep -q "cannot write" "$work/errors" || lost=$((lost + 1))
done
echo "full disk at 10 levels: tunnel.cfg changed, temp.cfg left or no reason given in $lost"

# Stop signals at random points of a session: exit status 0, the library
# stopped exactly once.
printf '(DevID){}\r\n(Home){Home}\r\n(LogLevel){2}\r\n' >"$work/original.cfg"
lost=0
early=0
signals=(INT TERM HUP)
for i in $(seq "$rounds"); do
  lay
  rm -f "$work/trace"
  (cd "$work/app" && exec env TUNNEL_SIM_TRACE="$work/trace" TUNNEL_SIM_LOG_THREAD=100 \
    ./tunnelconsole < <(yes $'versionget\nconnectadd\np\n0\n0\n127.0.0.1:8000\n\nconnectenum\n0\nconnectlocaldelete\n127.0.0.1:20000' | head -n 20000) >/dev/null 2>&1) &
  pid=$!
  sleep "0.0$((RANDOM % 40))"
  kill -"${signals[i % 3]}" "$pid" 2>/dev/null
  wait "$pid"
  status=$?
  # A signal before the program's first instruction ends it as any program.
  if [ ! -s "$work/trace" ] && [ "$status" -gt 128 ]; then
    early=$((early + 1))
    continue
  fi
  stops=$(grep -c '^TunnelStop' "$work/trace")
  [ "$status" -eq 0 ] && [ "$stops" -eq 1 ] || lost=$((lost + 1))
done
echo "SIGINT/SIGTERM/SIGHUP at random points: $rounds runs ($early before the program ran), a bad status or not one TunnelStop in $lost"

# The reader goes away: the run ends, the library stopped once.
lay
rm -f "$work/trace"
(cd "$work/app" && yes statusget | TUNNEL_SIM_TRACE="$work/trace" timeout 60 ./tunnelconsole | head -c 100 >/dev/null)
echo "yes statusget | tunnelconsole | head -c 100: ended, TunnelStop lines: $(grep -c '^TunnelStop' "$work/trace")"

# Closed standard streams: nothing lands in the trace but calls.
lost=0
for closed in '<&-' '>&-' '2>&-' '<&- >&- 2>&-'; do
  lay
  rm -f "$work/trace"
  (cd "$work/app" && eval "printf 'versionget\n' | TUNNEL_SIM_TRACE=$work/trace ./tunnelconsole >/dev/null $closed")
  grep -qv '^Tunnel' "$work/trace" && lost=$((lost + 1))
done
echo "closed standard streams (4 ways): trace holding other bytes in $lost"
