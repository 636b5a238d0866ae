#!/usr/bin/env bash
# Installs what is missing, builds the release program and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target ostrel
"$build/src/cli/ostrel" env
