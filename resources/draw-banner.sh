#!/usr/bin/env bash
# Draws banner.bmp, the side picture of the installer page (bitmap 103): 164 x 314 pixels, 16
# colours, 4 bits per pixel, uncompressed, 40-byte header. The page shows it at its pixel size, so
# these are the exact dimensions the dialog's layout is made for.
# Usage: bash draw-banner.sh [OUTPUT.bmp]   (needs ImageMagick; the result is committed)
set -euo pipefail
out=${1:-$(dirname "$0")/banner.bmp}

# A night-blue gradient over a pale floor band, and on it an open parcel with its back flaps up and
# three cards rising out of it: a package being unpacked.
convert -size 164x314 gradient:'#0b2a6b'-'#3f7fd0' \
  -fill '#c8dcf5' -draw 'rectangle 0,250 163,313' \
  -fill '#8fb2e0' -draw 'rectangle 0,250 163,253' \
  -fill '#8fb2e0' -draw 'polygon 22,240 82,266 142,240 154,246 82,278 14,246' \
  -fill '#e0a050' -draw 'polygon 22,170 82,144 66,108 6,134' \
  -fill '#d89040' -draw 'polygon 82,144 142,170 158,136 98,110' \
  -fill '#5a3410' -draw 'polygon 22,170 82,144 142,170 82,196' \
  -fill '#d8e4f4' -draw 'polygon 42,120 98,100 114,170 58,190' \
  -fill '#f0f4fa' -draw 'polygon 54,88 110,68 126,138 70,158' \
  -fill '#ffffff' -draw 'polygon 36,58 92,38 108,108 52,128' \
  -fill '#3f7fd0' -draw 'polygon 48,66 84,53 85,57 49,70' \
  -fill '#8fb2e0' -draw 'polygon 50,78 92,63 93,67 51,82 polygon 52,90 94,75 95,79 53,94 polygon 54,102 88,90 89,94 55,106' \
  -fill '#c07a2a' -draw 'polygon 22,170 82,196 82,266 22,240' \
  -fill '#9a5c1c' -draw 'polygon 82,196 142,170 142,240 82,266' \
  -fill '#f0c070' -draw 'polygon 22,170 82,196 82,203 22,177' \
  -fill '#ffffff' -draw 'circle 130,22 131,23 circle 20,18 21,18 circle 148,70 149,70 circle 10,88 11,88 circle 140,118 141,118' \
  -dither None -colors 16 -type Palette -compress None BMP3:"$out"

# The resource compiler takes any BMP, but the page expects exactly this format: fail loudly here.
header=$(od -An -tu4 -j14 -N4 "$out" | tr -d ' ')
width=$(od -An -td4 -j18 -N4 "$out" | tr -d ' ')
height=$(od -An -td4 -j22 -N4 "$out" | tr -d ' ')
bits=$(od -An -tu2 -j28 -N2 "$out" | tr -d ' ')
compression=$(od -An -tu4 -j30 -N4 "$out" | tr -d ' ')
if [ "$header" != 40 ] || [ "$width" != 164 ] || [ "$height" != 314 ] || [ "$bits" != 4 ] ||
   [ "$compression" != 0 ]; then
  echo "draw-banner: $out is ${width}x${height}, $bits bpp, compression $compression, header $header" >&2
  exit 1
fi
