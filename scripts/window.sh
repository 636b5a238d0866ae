#!/usr/bin/env bash
# Installs what is missing, builds the window (ostrel-gui, release) and opens it against a
# simulated calculator, so that every button can be pressed without hardware.
#
#   scripts/window.sh                    the simulated calculator on USB
#   scripts/window.sh --simulate=serial  on its serial line (the 3-pin cable)
#   scripts/window.sh ARGS...            any other ostrel-gui arguments, passed on as given
#
# Needs a desktop (DISPLAY or WAYLAND_DISPLAY); without one ostrel-gui says so and ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrel-gui

if [ $# -eq 0 ]; then
  set -- --simulate
fi
exec "$build/src/app/ostrel-gui" "$@"
