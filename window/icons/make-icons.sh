#!/usr/bin/env bash
# Draws the application icon (a brass key on a blue door-panel tile) at 1024 px with
# ImageMagick and scales it down to the sizes the program ships (PNGs, and one .ico for Windows). Run it from anywhere; it
# rewrites the PNGs beside it.
set -euo pipefail
cd "$(dirname "$0")"

master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT

convert -size 1024x1024 xc:none \
    -fill '#1f4e79' -draw 'roundrectangle 32,32 991,991 160,160' \
    -fill '#2e6da4' -draw 'roundrectangle 96,96 927,927 112,112' \
    -fill '#f2b632' -stroke '#8a5a00' -strokewidth 24 \
    -draw 'circle 340,512 340,300' \
    -draw 'path "M 520,452 L 900,452 L 900,572 L 840,572 L 840,700 L 740,700 L 740,572 L 690,572 L 690,660 L 600,660 L 600,572 L 520,572 Z"' \
    -stroke none -fill '#f2b632' -draw 'rectangle 480,464 560,560' \
    -fill '#2e6da4' -stroke '#8a5a00' -strokewidth 24 -draw 'circle 300,512 300,440' \
    "$master"

for size in 16 24 32 48 256; do
    convert "$master" -filter Lanczos -resize "${size}x${size}" -depth 8 -strip "velmor_snd-${size}.png"
done
# The same sizes in one icon file for the Windows program's resources.
convert velmor_snd-{16,24,32,48,256}.png velmor_snd.ico
