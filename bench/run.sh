#!/usr/bin/env bash
# Measures the console against its floor (bench/floor.c: the same lines read
# and the same bytes written with plain stdio, no table, no library) and
# prints one table row per measure, in Markdown.
#
#   bench/run.sh                 every row
#   bench/run.sh ROW...          only these: throughput growth startup memory
#                                allocations instructions testconnect terminal
#                                windows keystroke consolekeystroke history
#                                flood cpupairs
#
# Builds the program with the default preset, installs the tools it needs if
# missing (hyperfine, valgrind, GNU time) and works in a scratch folder. Not a
# test: timings vary with the machine and its load.
set -euo pipefail
cd "$(dirname "$0")/.."

all_rows=(throughput growth startup memory allocations instructions testconnect terminal windows
  keystroke consolekeystroke history flood cpupairs)
rows=("$@")
[ ${#rows[@]} -gt 0 ] || rows=("${all_rows[@]}")
for row in "${rows[@]}"; do
  [[ " ${all_rows[*]} " == *" $row "* ]] || { echo "unknown row: $row (rows: ${all_rows[*]})" >&2; exit 2; }
done

# --- Tools and build -------------------------------------------------------

scripts/setup.sh build
tools=()
command -v hyperfine >/dev/null || tools+=(hyperfine)
command -v valgrind >/dev/null || tools+=(valgrind)
[ -x /usr/bin/time ] || tools+=(time)
command -v cc >/dev/null || tools+=(gcc)
command -v python3 >/dev/null || tools+=(python3)
if [ ${#tools[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${tools[@]}" >&2
fi

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target tunnelconsole veskDllTunnel >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
app=$work/app
mkdir "$app"
cp build/bin/tunnelconsole build/bin/libveskDllTunnel.so samples/tunnel.cfg "$app"/
printf '[config]\r\ndevice_id=bench-device\r\n' >"$app/config.ini"
# Beside the program, so that both print the same Home folder.
cc -O2 -Wall -Wextra -o "$app/floor" bench/floor.c
cc -O2 -Wall -Wextra -shared -fPIC -o "$work/alloc_count.so" bench/alloc_count.c
program=$app/tunnelconsole
floor=$app/floor

# --- Inputs ----------------------------------------------------------------

# script KIND COUNT: COUNT commands of one kind, or of the mix, which cycles
# through versionget, statusget, connectadd, connectenum, connectdelete and an
# unknown line.
script() {
  awk -v kind="$1" -v count="$2" 'BEGIN {
    fields = "peer-1\n0\n1\n127.0.0.1:8000\n127.0.0.1:18000\n"
    mix[0] = "versionget\n"; mix[1] = "statusget\n"; mix[2] = "connectadd\n" fields
    mix[3] = "connectenum\n0\n"; mix[4] = "connectdelete\n" fields; mix[5] = "help\n"
    if (kind == "connectenum") printf "%s", mix[2]
    for (i = 0; i < count; ++i) {
      if (kind == "mix") printf "%s", mix[i % 6]
      else if (kind == "versionget") printf "%s", mix[0]
      else if (kind == "statusget") printf "%s", mix[1]
      else if (kind == "connectenum") printf "%s", mix[3]
      else if (kind == "unknown") printf "%s", mix[5]
      else if (kind == "connectadd+delete") printf "%s", (i % 2 == 0 ? mix[2] : mix[4])
    }
  }'
}

input() {  # input KIND COUNT: the file holding that script
  local file=$work/$1-$2.txt
  [ -f "$file" ] || script "$1" "$2" >"$file"
  echo "$file"
}

# The floor is a fair one only while it prints what the program prints.
same_output() {
  if ! cmp -s <("$program" <"$1") <("$floor" <"$1"); then
    echo "the floor's output differs from the program's for $(basename "$1")" >&2
    exit 1
  fi
}

# --- Helpers ---------------------------------------------------------------

# medians HYPERFINE_ARGS...: the median seconds of each command, one a line.
medians() {
  hyperfine --style none --export-csv "$work/times.csv" "$@" </dev/null >&2
  awk -F, 'NR > 1 { print $4 }' "$work/times.csv"
}

# minimums HYPERFINE_ARGS...: the shortest time of each command, one a line:
# the least disturbed by whatever else the machine does.
minimums() {
  hyperfine --style none --export-csv "$work/times.csv" "$@" </dev/null >&2
  awk -F, 'NR > 1 { print $7 }' "$work/times.csv"
}

# calc FORMAT EXPRESSION...: the expressions, worked out by awk, in FORMAT.
calc() {
  local format=$1
  shift
  local IFS=,
  awk "BEGIN { printf \"$format\", $* }"
}

instructions() {  # instructions PROGRAM INPUT: what callgrind counts for a run
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$1" <"$2" >/dev/null 2>&1
  sed -n 's/^totals: //p; s/^summary: //p' "$work/callgrind.out" | head -n 1
}

# Of the last callgrind run, the instructions spent in calls of the tunnel
# library's operations, what they call in the C runtime included.
library_instructions() {
  callgrind_annotate --inclusive=yes --threshold=100 "$work/callgrind.out" 2>/dev/null |
    awk '/:Tunnel[A-Za-z]* \[.*libveskDllTunnel/ { gsub(",", "", $1); sum += $1 } END { print sum + 0 }'
}

table=()
add_row() { table+=("| $1 | $2 | $3 | \`bench/run.sh $4\` |"); }

# --- Rows ------------------------------------------------------------------

throughput() {
  local mix
  mix=$(input mix 500000)
  same_output "$mix"
  local -a medians shortest
  mapfile -t medians < <(medians --runs 10 --warmup 2 "$program < $mix" "$floor < $mix")
  # The shortest runs as well: the least disturbed by other work, where the
  # medians of the two can fall in a quiet and a busy spell.
  mapfile -t shortest < <(awk -F, 'NR > 1 { print $7 }' "$work/times.csv")
  add_row "Scripted throughput, 500 000 commands of the mix, median (shortest) of 10" \
    "$(calc "program %.0f ms, floor %.0f ms: %.2f (%.0f ms, %.0f ms: %.2f)" \
      "${medians[0]} * 1000" "${medians[1]} * 1000" "${medians[0]} / ${medians[1]}" \
      "${shortest[0]} * 1000" "${shortest[1]} * 1000" "${shortest[0]} / ${shortest[1]}")" \
    "at most 1.2" throughput
}

growth() {
  local empty small medium large
  empty=$(input mix 0)
  small=$(input mix 10000)
  medium=$(input mix 100000)
  large=$(input mix 1000000)
  # Short runs are repeated more, so that start-up's spread does not hide them.
  local -a m
  mapfile -t m < <(minimums --runs 100 --warmup 5 "$program < $empty" "$program < $small" \
    "$program < $medium")
  m+=("$(minimums --runs 10 --warmup 1 "$program < $large")")
  add_row "Growth: time per command beyond start-up at 10 000, 100 000 and 1 000 000 commands of the mix, shortest of 100, 100, 10 runs" \
    "$(calc "%.0f, %.0f, %.0f ns: 1M/10k %.2f" "(${m[1]} - ${m[0]}) / 1e4 * 1e9" \
      "(${m[2]} - ${m[0]}) / 1e5 * 1e9" "(${m[3]} - ${m[0]}) / 1e6 * 1e9" \
      "((${m[3]} - ${m[0]}) / 1e6) / ((${m[1]} - ${m[0]}) / 1e4)")" \
    "linear, within 10 %" growth
}

startup() {
  # Standard input at its end: start-up, the first prompt, then the way out.
  # Once its first run has rewritten tunnel.cfg, the program only reads it.
  local -a medians
  mapfile -t medians < <(medians -N --runs 300 --warmup 20 "$program" "$floor")
  # A first start, or one after the folder moved: tunnel.cfg is rewritten
  # through temp.cfg, put on stable storage and renamed, every run.
  local moved=$work/moved
  mkdir "$moved"
  cp "$program" "$app/libveskDllTunnel.so" "$app/config.ini" "$moved"/
  local -a rewriting
  mapfile -t rewriting < <(medians -N --runs 100 --warmup 5 \
    --prepare "cp $PWD/samples/tunnel.cfg $moved/tunnel.cfg" "$moved/tunnelconsole")
  add_row "Start-up to the first prompt and out at the end of input, median of 300 (of 100 when tunnel.cfg is rewritten)" \
    "$(calc "program %.2f ms, floor %.2f ms: %.2f; rewriting tunnel.cfg %.2f ms: %.2f" \
      "${medians[0]} * 1000" "${medians[1]} * 1000" "${medians[0]} / ${medians[1]}" \
      "${rewriting[0]} * 1000" "${rewriting[0]} / ${medians[1]}")" "at most 1.5" startup
}

memory() {
  local mix
  mix=$(input mix 500000)
  local program_kib floor_kib
  program_kib=$(/usr/bin/time -f %M "$program" <"$mix" 2>&1 >/dev/null | tail -n 1)
  floor_kib=$(/usr/bin/time -f %M "$floor" <"$mix" 2>&1 >/dev/null | tail -n 1)
  add_row "Peak resident memory, 500 000 commands of the mix" \
    "program $program_kib KiB, floor $floor_kib KiB" "" memory
}

allocations() {
  local counts=$work/allocations.txt
  : >"$counts"
  for commands in 0 100000; do
    ALLOC_COUNT_FILE=$counts LD_PRELOAD=$work/alloc_count.so "$program" \
      <"$(input mix "$commands")" >/dev/null
  done
  local -a at0 at100k
  read -r -a at0 < <(sed -n 1p "$counts")
  read -r -a at100k < <(sed -n 2p "$counts")
  add_row "Heap allocations, whole process (by the program's own code), after 0 and 100 000 commands" \
    "${at0[0]} (${at0[1]}), ${at100k[0]} (${at100k[1]})" "0 by its own code, none per command" \
    allocations
}

instructions_row() {
  local count=20000
  local empty base_program base_floor
  empty=$(input mix 0)
  base_program=$(instructions "$program" "$empty")
  base_floor=$(instructions "$floor" "$empty")
  local result=""
  for kind in versionget statusget connectadd+delete connectenum unknown mix; do
    local file per_program library per_floor
    file=$(input "$kind" "$count")
    same_output "$file"
    per_program=$(instructions "$program" "$file")
    library=$(library_instructions)
    per_floor=$(instructions "$floor" "$file")
    result+="$kind $(calc "%.0f (library %.0f) / %.0f" "($per_program - $base_program) / $count" \
      "$library / $count" "($per_floor - $base_floor) / $count"); "
  done
  add_row "Instructions per command (callgrind), program (of which in library calls) / floor" \
    "${result%; }" "" instructions
}

testconnect() {
  local rounds=5
  local quit=$work/quit.txt stress=$work/testconnect.txt
  printf 'quit\n' >"$quit"
  printf 'testconnect\n%d\npeer-t\nquit\n' "$rounds" >"$stress"
  local -a medians
  mapfile -t medians < <(medians --runs 5 --warmup 1 "$program < $quit" "$program < $stress")
  add_row "\"testconnect\": time per round beyond its 400 ms of pauses, $rounds rounds, median of 5" \
    "$(calc "%.2f ms: %.2f %%" "((${medians[1]} - ${medians[0]}) / $rounds - 0.4) * 1000" \
      "((${medians[1]} - ${medians[0]}) / $rounds - 0.4) / 0.4 * 100")" \
    "under 1 %" testconnect
}

# per_output WRAPPER PROGRAM FLOOR INPUT KIND...: for each kind of standard
# output, the program and the floor reading INPUT, each run as WRAPPER says
# ("%s" stands for "PROGRAM < INPUT"), median and shortest of 10, as
# "kind: program X ms, floor Y ms: R (shortest ...)" pieces.
per_output() {
  local wrapper=$1 program=$2 floor=$3 input=$4
  shift 4
  local result="" kind redirect run_program run_floor
  # shellcheck disable=SC2059 # WRAPPER is a format by design
  printf -v run_program "$wrapper" "$program < $input"
  # shellcheck disable=SC2059
  printf -v run_floor "$wrapper" "$floor < $input"
  for kind in "$@"; do
    case $kind in
      "character device" | terminal) redirect="> /dev/null" ;;
      pipe) redirect="| cat > /dev/null" ;;
      file) redirect="> $work/output.txt" ;;
    esac
    local -a m s
    mapfile -t m < <(medians --runs 10 --warmup 2 "$run_program $redirect" "$run_floor $redirect")
    mapfile -t s < <(awk -F, 'NR > 1 { print $7 }' "$work/times.csv")
    result+="$kind: $(calc "program %.0f ms, floor %.0f ms: %.2f (shortest %.0f ms, %.0f ms: %.2f)" \
      "${m[0]} * 1000" "${m[1]} * 1000" "${m[0]} / ${m[1]}" \
      "${s[0]} * 1000" "${s[1]} * 1000" "${s[0]} / ${s[1]}"); "
  done
  echo "${result%; }"
}

# The Linux program writing to a terminal: both run inside a pseudo-terminal
# that script(1) holds, so the line discipline's cost is in both figures.
terminal() {
  local mix
  mix=$(input mix 500000)
  same_output "$mix"
  add_row "Scripted throughput to a terminal (a pty under script), 500 000 commands of the mix, median (shortest) of 10" \
    "$(per_output "script -qec '%s' /dev/null" "$program" "$floor" "$mix" terminal)" \
    "at most 1.2" terminal
}

# The Windows program under Wine against the floor built for Windows, for
# standard output on the null device (a character device, as a console or
# NUL is), a pipe and a file.
windows() {
  scripts/setup.sh test >&2
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j2 --target tunnelconsole veskDllTunnel >/dev/null
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  local win=$work/win
  mkdir "$win"
  cp build-win32/bin/tunnelconsole.exe build-win32/bin/veskDllTunnel.dll samples/tunnel.cfg \
    "$app/config.ini" "$win"/
  i686-w64-mingw32-gcc -O2 -Wall -Wextra -o "$win/floor.exe" bench/floor.c
  local mix
  mix=$(input mix 500000)
  if ! cmp -s <(wine "$win/tunnelconsole.exe" <"$mix") <(wine "$win/floor.exe" <"$mix"); then
    echo "the Windows floor's output differs from the Windows program's" >&2
    exit 1
  fi
  add_row "Scripted throughput of the Windows program under Wine, 500 000 commands of the mix, median (shortest) of 10" \
    "$(per_output "wine %s" "$win/tunnelconsole.exe" "$win/floor.exe" "$mix" "character device" pipe \
      file)" "at most 1.2" windows
}

keystroke() {
  local -a medians
  mkdir -p "$work/home"
  mapfile -t medians < <(python3 bench/keystroke_echo.py "$program" "$work/home" 3000)
  add_row "A key's echo at a terminal (pseudo-terminal), median of 3000 keys: the program's line editor; cat in raw mode, echoing each key itself; the terminal's own echo" \
    "$(calc "%.1f µs; %.1f µs; %.1f µs" "${medians[0]}" "${medians[1]}" "${medians[2]}")" \
    "not slower than the terminal's own" keystroke
}

# The Windows console program at Wine's console in a pseudo-terminal: its own
# line editor, each key a round trip through the console; a program that
# echoes key events itself and does nothing else (bench/raw_echo_windows.c,
# the console's cat in raw mode); and the console's own line input (cmd's
# prompt), which echoes inside the console without a round trip.
consolekeystroke() {
  local -a medians
  local win=build-win32/bin
  cmake --preset win32 >/dev/null && cmake --build build-win32 -j2 >/dev/null
  i686-w64-mingw32-gcc -O2 -Wall -Wextra -o "$work/raw_echo.exe" bench/raw_echo_windows.c
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # On one core, with a Wine server of its own started there: spread over
  # two, each round trip lands at about 500 or about 1000 µs, for any
  # program alike, by where the scheduler puts the threads.
  export WINEPREFIX=$work/wineprefix
  mapfile -t medians < <(taskset -c 0 python3 bench/keystroke_echo.py --wine \
    "$PWD/$win/tunnelconsole.com" "$work/raw_echo.exe" 1000 5)
  wineserver --kill
  add_row "A key's echo at Wine's console (pseudo-terminal) on one core, the lowest of 5 rounds' medians of 1000 keys: the console program's line editor; a program echoing key events itself; the console's own line input" \
    "$(calc "%.1f µs; %.1f µs; %.1f µs (%.2f times the raw echo)" "${medians[0]}" "${medians[1]}" \
      "${medians[2]}" "${medians[0]} / ${medians[1]}")" \
    "at most 1.3 times the raw echo" consolekeystroke
}

# The start and the first command at a terminal against a history file's
# size, by CPU, paired with the same run without a file.
history() {
  add_row "Start to the first prompt and the first command at a terminal (pty), CPU, against a history file of 10 000, 100 000 and 1 000 000 lines (57 MB), paired with none, median of 5" \
    "$(python3 bench/console_flow.py history "$program" 5 10000 100000 1000000 | paste -sd';')" \
    "a few ms at most" history
}

# A flood of library messages while the editor waits at the prompt, by CPU a
# message, paired with the editor off (TERM=dumb).
flood() {
  add_row "A flood of library messages (TUNNEL_SIM_LOG_THREAD=0, 2 s) at the prompt, CPU a message, editor against editor off, median of 5 pairs" \
    "$(python3 bench/console_flow.py flood "$program" 5 2)" "at most 1.5" flood
}

# The mix at 10k, 100k and 1M commands and the start-up, by CPU against the
# floor, each pair run in turn.
cpupairs() {
  local result="" count
  for count in 10000 100000 1000000; do
    result+="$count: $(python3 bench/console_flow.py pair "$program" "$floor" \
      "$([ $count = 1000000 ] && echo 10 || echo 40)" "$(input mix $count)"); "
  done
  result+="start-up: $(python3 bench/console_flow.py pair "$program" "$floor" 300)"
  add_row "CPU (user + system) against the floor in pairs: the mix at 10 000, 100 000 and 1 000 000 commands, median of 40, 40, 10; start-up and out, median of 300" \
    "$result" "at most 1.2" cpupairs
}

for row in "${rows[@]}"; do
  case $row in
    instructions) instructions_row ;;
    *) "$row" ;;
  esac
done

echo
echo "Machine: $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), $(nproc) cores," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo);" \
  "Debian $(cat /etc/debian_version), $(ldd --version | head -n 1 | awk '{ print $NF }') glibc," \
  "$(c++ --version | head -n 1); load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| Measure | Result | Goal | Command |"
echo "| --- | --- | --- | --- |"
printf '%s\n' "${table[@]}"
