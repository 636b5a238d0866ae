#!/usr/bin/env bash
# Builds an optimised tree and runs the benchmarks (bench/): each line is a figure
# measured against another one in the same run, with its target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_link_speed bench_image_check ostrel-sim
"$build/bench/bench_link_speed"
"$build/bench/bench_image_check"
