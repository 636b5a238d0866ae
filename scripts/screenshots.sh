#!/usr/bin/env bash
# Takes the README's pictures of the window (docs/images/idle.png, docs/images/backup.png)
# and one after a recovery (BUILD_DIR/pictures/recovery.png) against a simulated calculator, on a virtual X display (Xvfb), so that they show the
# fonts and style a desktop shows. Needs the packages of `scripts/install-deps.sh --pictures`.
#
#   scripts/screenshots.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --pictures
build=${1:-build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF
fi
cmake --build "$build" -j "$(nproc)" --target ostrel-window-pictures
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1280x900x24" "$build/tools/window_pictures/ostrel-window-pictures" docs/images
mkdir -p "$build/pictures"
mv docs/images/recovery.png "$build/pictures/recovery.png"
echo "recovery picture: $build/pictures/recovery.png"
