#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# runs every test through CTest (the fuzz targets replay their seeds and stored findings
# there), then gives each fuzz target a short run (FUZZ_SECONDS, default 3) with a fixed
# seed (FUZZ_SEED, default 1), so that the same commit gives the same result; longer runs
# with new seeds are scripts/fuzz.sh's job.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/sanitize
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTREL_SANITIZE=ON -DOSTREL_WERROR=ON
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Many tests spend their time waiting on a simulated calculator (restarts, answer
# time-outs), so two tests per core keep the cores busy.
ctest --test-dir "$build" --output-on-failure -j "$(($(nproc) * 2))"

FUZZ_SEED=${FUZZ_SEED:-1} scripts/fuzz.sh "${FUZZ_SECONDS:-3}"
