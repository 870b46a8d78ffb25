#!/usr/bin/env bash
# Draws the side picture of the installer page in its two resource sizes:
#   banner.bmp     bitmap 103, 164 x 314 pixels, 16 colours, 4 bits per pixel, uncompressed: the
#                  picture at 96 DPI, shown at its pixel size, the size the dialog's layout is made for;
#   banner-2x.bmp  bitmap 104, 328 x 628 pixels, 256 colours, RLE8: the source from which the page
#                  scales the picture smoothly at any other DPI. It is drawn four times larger still
#                  and reduced, so its edges are smooth rather than stepped.
# Usage: bash draw-banner.sh [OUTPUT.bmp [OUTPUT-2x.bmp]]   (needs ImageMagick; results are committed)
set -euo pipefail
here=$(dirname "$0")
out=${1:-$here/banner.bmp}
out2x=${2:-$here/banner-2x.bmp}

# A night-blue gradient over a pale floor band, and on it an open parcel with its back flaps up and
# three cards rising out of it: a package being unpacked. Coordinates are those of the 164 x 314
# picture; PREFIX is put in front of every shape (a scaling transform for the larger drawing), and
# LEFT, RIGHT and BOTTOM are the edges of the full-width floor bands.
shapes() {
  local p=$1 left=$2 right=$3 bottom=$4
  printf '%s\n' \
    -fill '#c8dcf5' -draw "${p}rectangle $left,250 $right,$bottom" \
    -fill '#8fb2e0' -draw "${p}rectangle $left,250 $right,253" \
    -fill '#8fb2e0' -draw "${p}polygon 22,240 82,266 142,240 154,246 82,278 14,246" \
    -fill '#e0a050' -draw "${p}polygon 22,170 82,144 66,108 6,134" \
    -fill '#d89040' -draw "${p}polygon 82,144 142,170 158,136 98,110" \
    -fill '#5a3410' -draw "${p}polygon 22,170 82,144 142,170 82,196" \
    -fill '#d8e4f4' -draw "${p}polygon 42,120 98,100 114,170 58,190" \
    -fill '#f0f4fa' -draw "${p}polygon 54,88 110,68 126,138 70,158" \
    -fill '#ffffff' -draw "${p}polygon 36,58 92,38 108,108 52,128" \
    -fill '#3f7fd0' -draw "${p}polygon 48,66 84,53 85,57 49,70" \
    -fill '#8fb2e0' -draw "${p}polygon 50,78 92,63 93,67 51,82 polygon 52,90 94,75 95,79 53,94 polygon 54,102 88,90 89,94 55,106" \
    -fill '#c07a2a' -draw "${p}polygon 22,170 82,196 82,266 22,240" \
    -fill '#9a5c1c' -draw "${p}polygon 82,196 142,170 142,240 82,266" \
    -fill '#f0c070' -draw "${p}polygon 22,170 82,196 82,203 22,177" \
    -fill '#ffffff' -draw "${p}circle 130,22 131,23 circle 20,18 21,18 circle 148,70 149,70 circle 10,88 11,88 circle 140,118 141,118"
}

mapfile -t small < <(shapes "" 0 163 313)
convert -size 164x314 gradient:'#0b2a6b'-'#3f7fd0' "${small[@]}" \
  -dither None -colors 16 -type Palette -compress None BMP3:"$out"

# Drawn at eight times the small picture's size, then halved twice with a box filter: each pixel of
# the result is the mean of a 4 x 4 block of the drawing. The transform maps each small pixel's centre
# onto the centre of its 8 x 8 block; the floor bands reach past the edges.
mapfile -t large < <(shapes "affine 8,0,0,8,3.5,3.5 " -1 200 400)
convert -size 1312x2512 gradient:'#0b2a6b'-'#3f7fd0' "${large[@]}" \
  -filter Box -resize 50% -resize 50% \
  -dither None -colors 256 -type Palette -compress RLE BMP3:"$out2x"

# The resource compiler takes any BMP, but the page expects exactly these formats: fail loudly here.
check() {
  local file=$1 want=$2
  local seen
  seen="$(od -An -tu4 -j14 -N4 "$file" | tr -d ' ') $(od -An -td4 -j18 -N4 "$file" | tr -d ' ')"
  seen+="x$(od -An -td4 -j22 -N4 "$file" | tr -d ' ') $(od -An -tu2 -j28 -N2 "$file" | tr -d ' ')"
  seen+=" $(od -An -tu4 -j30 -N4 "$file" | tr -d ' ')"
  if [ "$seen" != "$want" ]; then
    echo "draw-banner: $file has header size, size, bits and compression '$seen', not '$want'" >&2
    exit 1
  fi
}
check "$out" "40 164x314 4 0"
check "$out2x" "40 328x628 8 1"
