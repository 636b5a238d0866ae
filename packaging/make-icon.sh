#!/usr/bin/env bash
# Draws the program's icon, packaging/ostrel.png (128 x 128): a graphing calculator with a
# wrench across its keys. Needs ImageMagick; the PNG is committed, so builds do not.
set -euo pipefail
cd "$(dirname "$0")"
keys=()
for row in 62 76 90 104; do
  for col in 36 52 68; do keys+=(-draw "roundrectangle $col,$row $((col + 12)),$((row + 8)) 2,2"); done
  [ "$row" -lt 104 ] && keys+=(-draw "roundrectangle 84,$row 92,$((row + 8)) 2,2")
done
convert -size 128x128 xc:none \
  -fill '#2b3a4a' -draw 'roundrectangle 28,6 100,122 10,10' \
  -fill '#b9d3a6' -draw 'roundrectangle 36,14 92,54 3,3' \
  -fill none -stroke '#2b3a4a' -strokewidth 3 -draw 'polyline 40,46 50,36 58,42 68,24 78,34 88,22' \
  -stroke none -fill '#8fa3b8' "${keys[@]}" \
  -draw "push graphic-context translate 84,96 rotate -40 fill '#e8a33d' roundrectangle -18,-5 26,5 4,4 circle -18,0 -6,0 fill '#2b3a4a' rectangle -32,-3.5 -19,3.5 pop graphic-context" \
  ostrel.png
