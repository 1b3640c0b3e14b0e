#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) and runs each for SECONDS (default 60),
# or only the targets named: line_reader decimal device_id config_rewrite
# ini_lookup session. Each run replays its seeds (fuzz/corpus/<target>, only
# read) first; new inputs go to build-fuzz/corpus/<target>, and an input that
# fails is kept in build-fuzz/crashes/<target>/ and fails this script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(line_reader decimal device_id config_rewrite ini_lookup session)

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/crashes/$target"
  echo "== $target: ${seconds}s"
  log="build-fuzz/crashes/$target/last-run.log"
  status=0
  "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$target/" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|==[0-9]+==ERROR|SUMMARY)' "$log" || true
  [ "$status" -eq 0 ] || { echo "$target failed ($status): see $log"; exit 1; }
done
