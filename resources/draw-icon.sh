#!/usr/bin/env bash
# Draws app.ico, the icon of QorEngineUpdate.exe and so of every package built from it: the open
# parcel of the side picture on a blue tile, at 32 x 32 and 16 x 16 pixels, 16 colours each.
# Usage: bash draw-icon.sh [OUTPUT.ico]   (needs ImageMagick; the result is committed)
set -euo pipefail
out=${1:-$(dirname "$0")/app.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 32x32 xc:none \
  -fill '#1f4f9f' -draw 'roundrectangle 0,0 31,31 5,5' \
  -fill '#e0a050' -draw 'polygon 4,13 16,8 12,2 1,7' \
  -fill '#d89040' -draw 'polygon 16,8 28,13 31,7 20,2' \
  -fill '#5a3410' -draw 'polygon 4,13 16,8 28,13 16,18' \
  -fill '#ffffff' -draw 'polygon 10,4 20,1 23,13 13,16' \
  -fill '#c07a2a' -draw 'polygon 4,13 16,18 16,30 4,25' \
  -fill '#9a5c1c' -draw 'polygon 16,18 28,13 28,25 16,30' \
  "$work/32.png"
convert "$work/32.png" -resize 16x16 "$work/16.png"
# Each size on its own palette of 16 colours; the transparent corners stay transparent.
convert "$work/32.png" +dither -colors 16 "$work/32q.png"
convert "$work/16.png" +dither -colors 16 "$work/16q.png"
convert "$work/32q.png" "$work/16q.png" "$out"
