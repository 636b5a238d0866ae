#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for SECONDS (default 60), starting from the
# seed corpus that the repository's tools generate plus the stored findings. Prints per
# target the executions, the coverage and the findings. A finding is kept as
# build/fuzz/findings/<target>/crash-*; once its cause is fixed, copy it to
# fuzz/regressions/<target>/ so that the normal test run replays it.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Environment: FUZZ_BUILD (build folder, default build/fuzz), FUZZ_JOBS (parallel runs of
# one target, default 1), FUZZ_RSS_MB (memory limit per run, default 2048), FUZZ_SEED
# (random seed of every run; unset, each run takes a new one).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(answer readout image_check settings patch connection bitmap project)
build=$(realpath -m "${FUZZ_BUILD:-build/fuzz}")
jobs=${FUZZ_JOBS:-1}
rss=${FUZZ_RSS_MB:-2048}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_COMPILER=clang-14 -DOSTREL_SANITIZE=ON -DOSTREL_FUZZ=ON -DOSTREL_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrel-fuzz-seeds "${targets[@]/#/fuzz_}"

seeds="$build/fuzz/seeds"
"$build/fuzz/ostrel-fuzz-seeds" "$seeds" "$PWD" >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=0
printf '%-12s %8s %12s %10s %8s %8s  %s\n' target seconds executions exec/s cov ft findings
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  inputs=("$corpus" "$seeds/$target")
  [ -d "fuzz/regressions/$target" ] && inputs+=("$PWD/fuzz/regressions/$target")
  parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  [ -n "${FUZZ_SEED:-}" ] && parallel+=(-seed="$FUZZ_SEED")
  status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb="$rss" -malloc_limit_mb="$rss" \
    -timeout=25 -handle_xfsz=0 "${parallel[@]}" -print_final_stats=1 -artifact_prefix="$findings/" \
    "${inputs[@]}" >"$log" 2>&1 || status=$?
  # With -jobs the runs log into fuzz-N.log files, which libFuzzer copies into its own
  # output as each run ends; the copies are counted, the files removed.
  if [ "$jobs" -gt 1 ]; then rm -f fuzz-*.log; fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{s+=$1} END {print s+0}')
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  found=$(find "$findings" -type f | wc -l)
  rate=$((executions / (seconds > 0 ? seconds : 1)))
  printf '%-12s %8s %12s %10s %8s %8s  %s\n' "$target" "$seconds" "$executions" "$rate" "${coverage:-?}" \
    "${features:-?}" "$found"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    grep -E 'does not hold|ERROR: |SUMMARY: |Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: findings above (inputs under $build/findings, logs under $build/logs)" >&2
  exit 1
fi
