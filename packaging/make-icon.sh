#!/usr/bin/env bash
# Renders packaging/ostrel.png (128 x 128), the window's own icon, from ostrel.svg.
# Needs rsvg-convert (librsvg2-bin); the PNG is committed, so builds of the window do not.
# The installed icon sizes are rendered by the build (packaging/CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert --width 128 --height 128 ostrel.svg > ostrel.png
