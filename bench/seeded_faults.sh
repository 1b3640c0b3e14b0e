#!/usr/bin/env bash
# Seeds the faults of bench/seeded_faults.txt into a checkout, one at a time:
# apply, rebuild, run the checkout's suite, record whether any test failed,
# put the file back. Prints one line per fault and the score at the end.
#
# Usage: bench/seeded_faults.sh [checkout] [preset] [fault numbers...]
#   checkout  the source folder to seed (default: this one)
#   preset    its configure, build and test preset (default: default)
#   numbers   only these faults (1-based, as listed); all when none are given
# Environment: FAULTS=file (default: the seeded_faults.txt beside this
# script), RESULTS=file (default: <build folder>/seeded_faults.result).
#
# A fault's file is taken back with git checkout after its run, and also on
# any exit or signal. A file still marked as seeded (a run killed with -9) is
# taken back before the next run starts. The files the set touches must have
# no changes of their own: the run refuses to start otherwise.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
checkout="$(cd "${1:-$here/..}" && pwd)"
preset="${2:-default}"
shift $(($# > 2 ? 2 : $#))
faults="${FAULTS:-$here/seeded_faults.txt}"

git_file() { git -C "$checkout" rev-parse --git-path "$1" | sed "s|^\([^/]\)|$checkout/\1|"; }
marker="$(git_file seeded_fault.pending)"

restore() {
    if [ -s "$marker" ]; then
        git -C "$checkout" checkout -- "$(cat "$marker")" && rm -f "$marker"
    fi
}

# Builds and tests run in a session of their own, waited for here, so that a
# signal to this run stops them all before the file is taken back: nothing
# compiled from the fault is left newer than the file.
child=
run() {
    setsid "$@" &
    child=$!
    wait "$child"
    local status=$?
    child=
    return "$status"
}
stop() {
    if [ -n "$child" ]; then
        kill -TERM -- "-$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    restore
    exit 130
}
trap stop INT TERM HUP
trap restore EXIT
restore

# The entries: "path:" (alternatives, the first that exists is used), "from:",
# "to:" and "why:" lines; a line holding "---" or the end of the file closes
# one. The text after "from: " and "to: " is taken exactly, as one line of
# source, and "from" must occur exactly once in the file.
mapfile -t entries < <(python3 - "$faults" <<'EOF'
import sys
entry = {}
def flush():
    global entry
    if entry:
        print("\x1f".join(entry.get(k, "") for k in ("path", "from", "to", "why")))
    entry = {}
for line in open(sys.argv[1], encoding="utf-8").read().split("\n"):
    if line.strip() == "---":
        flush()
    elif not line.startswith("#") and ": " in line:
        key, value = line.split(": ", 1)
        entry[key] = value
flush()
EOF
)
[ ${#entries[@]} -gt 0 ] || { echo "no faults in $faults" >&2; exit 2; }

resolve() {  # the first path of the alternatives that exists in the checkout
    local p
    for p in $1; do
        [ -f "$checkout/$p" ] && { echo "$p"; return 0; }
    done
    return 1
}

for entry in "${entries[@]}"; do
    IFS=$'\x1f' read -r paths _ <<<"$entry"
    path="$(resolve "$paths")" || { echo "no file of: $paths" >&2; exit 2; }
    git -C "$checkout" diff --quiet -- "$path" ||
        { echo "$path has changes of its own; commit or stash them first" >&2; exit 2; }
done

binary_dir() {
    python3 - "$checkout/CMakePresets.json" "$preset" "$checkout" <<'EOF'
import json, sys
presets = {p["name"]: p for p in json.load(open(sys.argv[1]))["configurePresets"]}
p = presets[sys.argv[2]]
while "binaryDir" not in p:
    p = presets[p["inherits"]]
print(p["binaryDir"].replace("${sourceDir}", sys.argv[3]))
EOF
}
build="$(binary_dir)"
results="${RESULTS:-$build/seeded_faults.result}"
[[ $results = /* ]] || results="$PWD/$results"
mkdir -p "$build"
# The presets are found from the checkout.
cd "$checkout" || exit 2

build_and_test() {  # 0: the suite passed; 1: a test failed; 2: the build failed
    { [ -f "$build/CMakeCache.txt" ] || run cmake --preset "$preset" >/dev/null; } &&
        run cmake --build --preset "$preset" -j2 >"$build/seeded_fault.build.log" 2>&1 || return 2
    # Stops at the first failure: one is enough to call the fault caught.
    run ctest --preset "$preset" -j2 --stop-on-failure >"$build/seeded_fault.test.log" 2>&1 &&
        return 0
    return 1
}

echo "checkout $checkout, preset $preset, build $build"
echo "baseline: building and running the suite unseeded"
build_and_test
case $? in
    0) ;;
    *) echo "the unseeded suite does not pass (see $build/seeded_fault.*.log)" >&2; exit 2 ;;
esac

: >"$results"
caught=0
missed=0
invalid=0
number=0
for entry in "${entries[@]}"; do
    number=$((number + 1))
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$number"; then
        continue
    fi
    IFS=$'\x1f' read -r paths from to why <<<"$entry"
    path="$(resolve "$paths")"
    printf '%s\n' "$path" >"$marker"
    if ! python3 - "$checkout/$path" "$from" "$to" <<'EOF'; then
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="utf-8", newline="").read()
if text.count(old) != 1:
    sys.exit(f"{path}: the original text occurs {text.count(old)} times")
open(path, "w", encoding="utf-8", newline="").write(text.replace(old, new))
EOF
        verdict="invalid (text not found once)"
        invalid=$((invalid + 1))
    else
        build_and_test
        case $? in
            0) verdict="MISSED"; missed=$((missed + 1)) ;;
            1)
                first="$(grep -m1 -E 'Test +#[0-9]+: .*[*]{3}(Failed|Timeout|Exception)' "$build/seeded_fault.test.log" |
                    sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/')"
                verdict="caught by ${first:-a failing test}"
                caught=$((caught + 1))
                ;;
            2) verdict="invalid (does not build)"; invalid=$((invalid + 1)) ;;
        esac
    fi
    restore
    line="$(printf '%2d %-40s %s: %s' "$number" "$verdict" "$path" "$why")"
    echo "$line"
    echo "$line" >>"$results"
done
summary="caught $caught of $((caught + missed)) ($missed missed, $invalid invalid)"
echo "$summary"
echo "$summary" >>"$results"
# The build folder back in step with the untouched sources.
run cmake --build --preset "$preset" -j2 >/dev/null 2>&1
