#!/usr/bin/env bash
# The installer page at 96, 120, 144 and 192 DPI under Wine: the side picture fills its column and
# is scaled smoothly, the white area reaches the divider below it with every text above, and the
# header's letters grow with the page. The DPI is a setting of the whole Wine prefix, so this test
# has a prefix and a virtual display of its own. It leaves the page at 192 DPI as
# page-dpi/ready-192.png for the documentation (without a date: it changes only with its pixels).
# Usage (from inside the build folder): dpi.sh QorEngineUpdate.exe driver.exe page_finisher.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_dir="$here/../wine" resources="$here/../../resources"
work=$PWD/page-dpi own=$PWD/page-dpi-wine  # the prefix is kept between runs: making one takes long
rm -rf "$work"
mkdir -p "$work" "$own"
cd "$work"
cp "$1" QorEngineUpdate.exe
cp "$3" page_finisher.exe
driver=$2

export QOR_SCREEN=2048x1536x24  # room for the page at 192 DPI
unset QOR_TEST_DISPLAY          # the prefix's own display has that room, the test's has not
trap 'bash "$wine_dir/prefix.sh" down "$own"' EXIT
in_prefix() (source "$wine_dir/env.sh" "$own" && exec wine "$@")
# Wine reads the DPI when its session starts: each setting is followed by a fresh session.
set_dpi() {
  bash "$wine_dir/prefix.sh" up "$own"
  in_prefix reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
  (source "$wine_dir/env.sh" "$own" && wineserver -k && wineserver -w) || true
  bash "$wine_dir/prefix.sh" up "$own"
}

failures=0
fail() {
  echo "FAIL [$dpi DPI]: $*" >&2
  failures=$((failures + 1))
}

# The example product's texts, as on the documentation's other pictures.
printf '%s\n' '[Cmd]' LANG=ENU 'Title=Qor Example Product' 'FileName=page_finisher.exe 0 0' \
  '[Files]' 'File01=page_finisher.exe, page_finisher.exe' '[Out]' OutputName=package.exe \
  '[In]' QorFileName=QorEngineUpdate.exe '[ENU]' 'Msg02=Welcome to' 'Msg07=< Back' 'Msg09=Next >' \
  'Msg06=Press Next to install Qor Example Product.' 'Msg10=Cancel' \
  'Msg11=This wizard installs Qor Example Product on your computer.' >list.ini

ink96=0 previous=0
for dpi in 96 120 144 192; do
  set_dpi "$dpi"
  if [ ! -f package.exe ] && ! in_prefix QorEngineUpdate.exe /m '.\list.ini' >/dev/null 2>&1; then
    fail "the package was not built: $(cat logfile.txt 2>/dev/null)"
    break
  fi
  printf '%s\n' "env TMP=Z:${work//\//\\}\\" "env TEMP=Z:${work//\//\\}\\" \
    "start Z:${work//\//\\}\\package.exe" dialog 'text 1 Next >' \
    'text 1012 Welcome to Qor Example Product' \
    'rect 0' 'rect 1014' 'rect 1012' 'rect 1005' 'rect 1007' 'rect 1002' 'rect 1' \
    "shot ready-$dpi.bmp" 'click 2' 'exit -1' >"drive-$dpi.txt"
  if ! in_prefix "$driver" "drive-$dpi.txt" >"drive-$dpi.log" 2>&1; then
    fail "driver: $(tr -d '\r' <"drive-$dpi.log")"
    continue
  fi
  declare -A left=() top=() right=() bottom=()
  while read -r word id l t r b; do
    [ "$word" = rect ] && left[$id]=$l top[$id]=$t right[$id]=$r bottom[$id]=$b
  done < <(tr -d '\r' <"drive-$dpi.log")
  width=$((right[1014] - left[1014])) height=$((bottom[1014] - top[1014]))
  echo "$dpi DPI: page ${right[0]}x${bottom[0]}, picture ${width}x${height}"

  # The picture: in the page's corner, in its proportions, left of the texts, and as high as the
  # column the layout gives it (193 of the 199 dialog units above the buttons). The dialog manager
  # scales the layout by the dialog font, which need not grow in step with the DPI (under Wine the
  # template's bitmap font stops growing at 144 DPI): the picture grows with the page.
  [ "${left[1014]},${top[1014]}" = "${left[0]},${top[0]}" ] || fail "the picture is off the corner"
  delta=$((width * 314 - height * 164)) column=$(((top[1] - top[0]) * 193 / 199))
  [ "${delta#-}" -le 314 ] || fail "the picture is ${width}x${height}, not in proportion"
  [ "${right[1014]}" -lt "${left[1005]}" ] || fail "the picture reaches into the texts"
  delta=$((height - column))
  [ "${delta#-}" -le 2 ] || fail "the picture is $height pixels high, its column $column"
  if [ "$dpi" = 96 ]; then
    [ "${width}x${height}" = 164x314 ] || fail "the picture is not bitmap 103's 164x314"
  elif [ "$height" -le 314 ] || [ "$height" -lt "$previous" ]; then
    fail "the picture is $height pixels high, at a lower DPI $previous"
  fi
  previous=$height
  for id in 1012 1005 1007 1002; do
    [ "${bottom[$id]}" -le "${bottom[1014]}" ] || fail "control $id reaches below the white area"
  done
  [ "${top[1]}" -gt "${bottom[1014]}" ] || fail "the buttons reach into the white area"

  # The picture as shown against a reference: bitmap 103 itself at 96 DPI, elsewhere bitmap 104
  # reduced by averaging, within the differences of two smooth scalings (a stretched bitmap 103
  # lies far off). Averaged, it holds more colours than bitmap 104's palette, which copied pixels
  # never exceed.
  convert "ready-$dpi.bmp" -crop "${width}x${height}+${left[1014]}+${top[1014]}" +repage picture.png
  reference=$resources/banner.bmp limit=0
  if [ "$dpi" != 96 ]; then
    convert "$resources/banner-2x.bmp" -filter Triangle -resize "${width}x${height}!" reference.png
    reference=reference.png limit=0.03
    colours=$(identify -format %k picture.png)
    [ "$colours" -gt 256 ] || fail "the picture holds $colours colours: scaled without averaging"
  fi
  error=$( (compare -metric RMSE picture.png "$reference" null: 2>&1 || true) |
    sed 's/.*(\(.*\))/\1/')
  awk -v e="$error" -v l="$limit" 'BEGIN { exit !(e <= l) }' ||
    fail "the picture differs from its reference by $error (at most $limit)"

  # Down a column of the texts, right of their words: white from the page's top to the picture's
  # lower edge, the dark divider, then the button face.
  x=$((right[1007] - 3))
  seen=$(convert "ready-$dpi.bmp" -crop "1x100000+$x+0" +repage txt:- |
    awk -v top="${top[0]}" 'NR > 1 && $3 != c {
                              if (c != "" && start >= top && k++ < 3) printf "%s %d ", c, n
                              c = $3; n = 0; start = NR - 2 }
                            NR > 1 { n++ }')
  [[ "$seen" =~ ^"#FFFFFF $height #000000 1 #"([0-9A-F]{6})" " ]] &&
    [ "${BASH_REMATCH[1]}" != FFFFFF ] ||
    fail "column $x: '$seen', expected white for $height rows, the black divider, the button face"

  # The header's letters grow with the page's layout, within a fifth of their 96-DPI height.
  ink=$(convert "ready-$dpi.bmp" -crop \
    "$((right[1012] - left[1012]))x$((bottom[1012] - top[1012]))+${left[1012]}+${top[1012]}" \
    +repage -colorspace Gray -threshold 50% -negate -scale '1x!' txt:- |
    awk 'NR > 1 && $3 != "#000000" { n++ } END { print n + 0 }')
  [ "$dpi" != 96 ] || ink96=$ink
  want=$((ink96 * column / 314))
  [ $((ink * 5)) -ge $((want * 4)) ] && [ $((ink * 5)) -le $((want * 6)) ] ||
    fail "the header's letters are $ink pixels high, about $want expected"
done

[ ! -f ready-192.bmp ] || convert ready-192.bmp -strip ready-192.png
if [ "$failures" -ne 0 ]; then
  echo "dpi.sh: $failures failure(s)" >&2
  exit 1
fi
echo "dpi.sh: the page is right at 96, 120, 144 and 192 DPI"
