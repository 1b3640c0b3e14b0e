#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the Linux program as
# shipped, under the address and undefined-behaviour sanitizers and (its
# concurrency cases) under the thread sanitizer, a short run of each fuzz
# target, then the Windows program under Wine, driven by the same end-to-end
# cases. Every stage runs even when an earlier one failed; the end says which
# failed, and the exit status is non-zero if any did.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test || exit 1
jobs=$(nproc)

export WINEDEBUG=-all
# No .NET or HTML engine prompts: the programs under test need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

failed=()
stage=""
wine_started=false

# Wine's server outlives the programs it ran; it goes with this script, on
# every way out.
finish() {
  local status=$?
  if $wine_started; then
    wineserver --kill >/dev/null 2>&1 || true
  fi
  if [ -n "$stage" ]; then
    failed+=("$stage (interrupted)")
  fi
  if [ ${#failed[@]} -gt 0 ]; then
    echo "== failed: ${failed[*]} ($(duration "$SECONDS") in all)"
    [ "$status" -ne 0 ] || status=1
  else
    echo "== all stages passed in $(duration "$SECONDS")"
  fi
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Debian's awk is mawk, which holds its input in blocks, whatever fflush()
# asks; -W interactive has it pass each line on as it comes.
if awk -W version 2>&1 | grep -q mawk; then
  awk_lines=(awk -W interactive)
else
  awk_lines=(awk)
fi

# "83 s" or "4 min 05 s".
duration() {
  if [ "$1" -lt 60 ]; then
    echo "$1 s"
  else
    printf '%d min %02d s\n' $(($1 / 60)) $(($1 % 60))
  fi
}

# Runs one stage: its name, then the commands, which stop at the first that
# fails; at its end, whether it passed and how long it took.
run_stage() {
  stage=$1
  shift
  echo "== $stage"
  local started=$SECONDS
  (set -e; "$@")
  local status=$?
  local took
  took=$(duration $((SECONDS - started)))
  if [ "$status" -ne 0 ]; then
    failed+=("$stage")
    echo "== failed after $took: $stage"
  else
    echo "== passed in $took: $stage"
  fi
  stage=""
}

# ctest pads every test's name to the longest, so its lines run far past 80
# columns. Here a test that passed or was skipped is only counted; one that
# did not gets a short line, "Failed: <name>", before its output. A name is
# shown without the "<Suite>.Transcript/" of the table-driven cases (ctest -R
# finds it by what is left).
brief_ctest() {
  ctest "$@" | "${awk_lines[@]}" '
    function short(name) { sub(/[A-Za-z0-9]+\.Transcript\//, "", name); return name }
    /^ +Start +[0-9]+: / { next }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      if ($0 ~ /(Passed|\*\*\*Skipped) +[0-9.]+ sec$/) next
      status = $0
      sub(/^.*\*\*\*/, "", status)
      sub(/ +[0-9.]+ sec$/, "", status)
      print status ": " short($4); fflush()
      next
    }
    /^The following tests did not run:$/ { skipping = 1; next }
    skipping && /^\t/ { skipped++; next }
    { skipping = 0 }
    /^\t *[0-9]+ - / { print "  " short($3) " " $4; fflush(); next }
    /^(Label Time Summary:|win32 +=|Total Test time)/ { next }
    { print; fflush() }
    END {
      if (skipped) print skipped " tests skipped: cases with no meaning here"
    }' | cat -s
}

# A build's progress lines name each object by its path inside the build
# folder; the source file's name alone says as much in fewer columns.
short_build_lines() {
  "${awk_lines[@]}" '/^\[ *[0-9]+%\] Building / {
         n = split($NF, part, "/")
         print substr($0, 1, index($0, "]")) " Building " part[n]; fflush()
         next
       }
       { print; fflush() }'
}

brief_build() {
  cmake --build "$@" | short_build_lines
}

fuzz_briefly() {
  scripts/fuzz.sh 10 | short_build_lines
}

build_and_test() {
  cmake --preset "$1"
  brief_build --preset "$1" -j "$jobs"
  brief_ctest --preset "$1" -j "$jobs"
}

wine_tests() {
  cmake --preset win32
  brief_build --preset win32 -j "$jobs"
  # Wine makes its prefix on first use; do it once, before tests run in parallel.
  wineboot --init >/dev/null 2>&1 || true
  brief_ctest --preset win32 -j "$jobs"
}

stdcall_binding() {
  cmake --preset win32-stdcall
  brief_build --preset win32-stdcall -j "$jobs"
  bash tests/win32/check_binding.sh i686-w64-mingw32-objdump build-win32-stdcall/bin
}

run_stage "default: build and test" build_and_test default
run_stage "asan: build and test" build_and_test asan
# The concurrency cases (signals, pipes, the library's log thread) under the
# thread sanitizer.
run_stage "tsan: build and test the concurrency cases" build_and_test tsan
run_stage "fuzz: each target for a short while, its seeds first" fuzz_briefly
wine_started=true
run_stage "win32: build, then test under Wine" wine_tests
run_stage "win32-stdcall: the variant for a stdcall library builds and binds by ordinal" \
  stdcall_binding
[ ${#failed[@]} -eq 0 ]
