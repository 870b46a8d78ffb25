#!/usr/bin/env bash
# The installer page at 96, 120, 144 and 192 DPI under Wine: the side picture fills its column at
# the page's scale and is scaled smoothly, the white area reaches the divider below it with every
# text above, and the header's font grows with the page. The DPI is a setting of the whole Wine
# prefix, so this test has a prefix and a virtual display of its own. It also leaves the page at
# 192 DPI as page-dpi/ready-192.png for the documentation (without a date, so that it changes only
# with its pixels).
# Usage (from inside the build folder): dpi.sh QorEngineUpdate.exe driver.exe page_finisher.exe
set -euo pipefail
exe=$1
driver=$2
finisher=$3
here=$(cd "$(dirname "$0")" && pwd)
wine_dir="$here/../wine"

work=$PWD/page-dpi
# Kept between runs: making a prefix takes long.
own=$PWD/page-dpi-wine
rm -rf "$work"
mkdir -p "$work" "$own"
cd "$work"
cp "$exe" QorEngineUpdate.exe
cp "$finisher" page_finisher.exe

# Room for the page at 192 DPI, twice its size at 96.
export QOR_SCREEN=2048x1536x24
trap 'bash "$wine_dir/prefix.sh" down "$own"' EXIT
in_prefix() (
  source "$wine_dir/env.sh" "$own"
  exec wine "$@"
)

# Wine reads the DPI when its session starts: the setting is followed by a fresh session.
set_dpi() {
  bash "$wine_dir/prefix.sh" up "$own"
  in_prefix reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  (source "$wine_dir/env.sh" "$own" && wineserver -k && wineserver -w) || true
  bash "$wine_dir/prefix.sh" up "$own"
}

failures=0
fail() {
  echo "FAIL [$dpi DPI]: $*" >&2
  failures=$((failures + 1))
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The example product's texts, as on the documentation's other pictures.
cat >list.ini <<'EOF'
[Cmd]
LANG=ENU
Title=Qor Example Product
FileName=page_finisher.exe 0 0

[Files]
File01=page_finisher.exe, page_finisher.exe

[Out]
OutputName=package.exe

[In]
QorFileName=QorEngineUpdate.exe

[ENU]
Msg02=Welcome to
Msg06=Press Next to install Qor Example Product.
Msg07=< Back
Msg09=Next >
Msg10=Cancel
Msg11=This wizard installs Qor Example Product on your computer.
EOF

# The picture's pixel rows and columns as the page shows them, against the same rectangle of a
# reference: bitmap 103 itself at its own size, otherwise bitmap 104 reduced by averaging. Prints
# the root mean square difference (0 to 1).
picture_error() {
  local shot=$1 left=$2 top=$3 width=$4 height=$5 reference
  if [ "$width"x"$height" = 164x314 ]; then
    reference="$here/../../resources/banner.bmp"
  else
    convert "$here/../../resources/banner-2x.bmp" -filter Triangle -resize "${width}x${height}!" \
      reference.png
    reference=reference.png
  fi
  convert "$shot" -crop "${width}x${height}+$left+$top" +repage picture.png
  # compare's status says whether the pictures differ; the measure is what counts here.
  { compare -metric RMSE picture.png "$reference" null: 2>&1 || true; } | sed 's/.*(\(.*\))/\1/'
}

# The white run down one column of the shot: its first row and its length, then the colours of the
# two runs below it.
column_runs() {
  convert "$1" -crop "1x100000+$2+0" +repage txt:- |
    awk 'NR > 1 { c = $3; if (c == prev) n++; else { if (prev != "") print prev, n; prev = c; n = 1 } }
         END { print prev, n }'
}

# How many pixel rows of the header control hold dark (text) pixels.
ink_rows() {
  convert "$1" -crop "$2" +repage -colorspace Gray -threshold 50% -negate -scale '1x!' txt:- |
    awk 'NR > 1 && $3 != "#000000" { n++ } END { print n + 0 }'
}

built=0
ink96=0
previous=0
for dpi in 96 120 144 192; do
  set_dpi "$dpi"
  if [ "$built" = 0 ]; then
    if ! in_prefix QorEngineUpdate.exe /m '.\list.ini' >/dev/null 2>&1 || [ ! -f package.exe ]; then
      fail "the package was not built: $(cat logfile.txt 2>/dev/null)"
      break
    fi
    built=1
  fi
  temp="$work/temp-$dpi"
  mkdir -p "$temp"
  cat >"drive-$dpi.txt" <<EOF
env TMP=$(winpath "$temp")\\
env TEMP=$(winpath "$temp")\\
start $(winpath "$work")\\package.exe
dialog
text 1 Next >
text 1007 Press Next to install Qor Example Product.
rect 0
rect 1014
rect 1012
rect 1005
rect 1007
rect 1002
rect 1
shot ready-$dpi.bmp
click 2
exit -1
EOF
  if ! in_prefix "$driver" "drive-$dpi.txt" >"drive-$dpi.log" 2>&1; then
    fail "driver: $(tr -d '\r' <"drive-$dpi.log")"
    continue
  fi
  declare -A left=() top=() right=() bottom=()
  while read -r word id l t r b; do
    [ "$word" = rect ] || continue
    left[$id]=$l top[$id]=$t right[$id]=$r bottom[$id]=$b
  done < <(tr -d '\r' <"drive-$dpi.log")
  width=$((right[1014] - left[1014])) height=$((bottom[1014] - top[1014]))
  echo "$dpi DPI: page ${right[0]}x${bottom[0]}, picture ${width}x${height}"

  # The picture: in the page's corner, in its proportions, left of the texts' column, and as high
  # as the column the page's layout gives it (193 of the 199 dialog units above the buttons). The
  # dialog manager scales the layout by the dialog font, which need not grow in step with the DPI
  # (under Wine the template's bitmap font stops growing at 144 DPI): the picture grows with the
  # page, from exactly bitmap 103's size at 96 DPI.
  [ "${left[1014]},${top[1014]}" = "${left[0]},${top[0]}" ] ||
    fail "the picture starts at ${left[1014]},${top[1014]}, not at the page's corner ${left[0]},${top[0]}"
  delta=$((width * 314 - height * 164))
  [ "${delta#-}" -le 314 ] || fail "the picture is ${width}x${height}, not in the proportions 164x314"
  [ "${right[1014]}" -lt "${left[1005]}" ] || fail "the picture reaches into the texts"
  column=$(((top[1] - top[0]) * 193 / 199))
  delta=$((height - column))
  [ "${delta#-}" -le 2 ] || fail "the picture is $height pixels high, its column $column"
  if [ "$dpi" = 96 ]; then
    [ "${width}x${height}" = 164x314 ] || fail "the picture is not 164x314"
  else
    [ "$height" -gt 314 ] && [ "$height" -ge "$previous" ] ||
      fail "the picture is $height pixels high, at a lower DPI $previous"
  fi
  previous=$height

  # The divider lies below every text and the progress bar and above the buttons.
  for id in 1012 1005 1007 1002; do
    [ "${bottom[$id]}" -le "${bottom[1014]}" ] || fail "control $id ends below the divider"
  done
  [ "${top[1]}" -gt "${bottom[1014]}" ] || fail "the buttons start above the divider"

  # The picture fills its rectangle and matches its reference: exactly at 96 DPI, and within the
  # differences of two smooth scalings elsewhere (a stretched bitmap 103 lies far off). Scaled by
  # averaging it holds more colours than bitmap 104's palette, which copied pixels never exceed.
  error=$(picture_error "ready-$dpi.bmp" "${left[1014]}" "${top[1014]}" "$width" "$height")
  limit=0.03
  [ "$dpi" != 96 ] || limit=0
  awk -v e="$error" -v l="$limit" 'BEGIN { exit !(e <= l) }' ||
    fail "the picture differs from its reference by $error (at most $limit)"
  colours=$(identify -format %k picture.png)
  [ "$dpi" = 96 ] || [ "${width}x${height}" = 328x628 ] || [ "$colours" -gt 256 ] ||
    fail "the picture holds $colours colours: scaled without averaging"

  # Down a column of the texts, right of their words: white from the page's top to the picture's
  # lower edge, the dark divider, then the button face.
  x=$((right[1007] - 3))
  runs=$(column_runs "ready-$dpi.bmp" "$x")
  expected="#FFFFFF $height #000000 1"
  seen=$(awk -v top="${top[0]}" 'row >= top && n++ < 3 { printf "%s%s %s", sep, $1, $2; sep = " " }
    { row += $2 }' <<<"$runs")
  [[ "$seen" =~ ^"$expected "\#([0-9A-F]{6})\ [0-9]+$ ]] && [ "${BASH_REMATCH[1]}" != FFFFFF ] ||
    fail "column $x below the caption: '$seen', expected '$expected', then the button face"

  # The header's letters grow with the page (within a fifth of their 96-DPI height, scaled).
  ink=$(ink_rows "ready-$dpi.bmp" \
    "$((right[1012] - left[1012]))x$((bottom[1012] - top[1012]))+${left[1012]}+${top[1012]}")
  [ "$dpi" != 96 ] || ink96=$ink
  want=$((ink96 * height / 314))
  [ $((ink * 5)) -ge $((want * 4)) ] && [ $((ink * 5)) -le $((want * 6)) ] ||
    fail "the header's letters are $ink pixels high, about $want expected"
done

[ ! -f ready-192.bmp ] || convert ready-192.bmp -strip ready-192.png
if [ "$failures" -ne 0 ]; then
  echo "dpi.sh: $failures failure(s)" >&2
  exit 1
fi
echo "dpi.sh: the page is right at 96, 120, 144 and 192 DPI"
