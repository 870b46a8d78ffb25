#!/usr/bin/env bash
# Takes the documentation's pictures of the installer page: docs/ready.png (the page as it opens)
# and docs/finished.png (after the install), with the example product's texts, under Wine on the
# build folder's virtual display; and docs/ready-192.png, the page as it opens at 192 DPI, from the
# DPI test's own prefix. Needs ImageMagick (convert) for the PNG files.
# Usage: bash tests/dialog/screenshot.sh [BUILD_DIR]   (default build/windows; built beforehand)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$source_dir/build/windows}" && pwd)
cmake --build "$build" --target QorEngineUpdate driver page_finisher
cd "$build/tests/dialog"
bash "$source_dir/tests/dialog/page.sh" shots "$build/QorEngineUpdate.exe" \
  "$build/tests/wine/driver.exe" "$build/tests/dialog/page_finisher.exe"
mkdir -p "$source_dir/docs"
cp page-shots/ready.png "$source_dir/docs/ready.png"
cp page-shots/finished.png "$source_dir/docs/finished.png"
bash "$source_dir/tests/dialog/dpi.sh" "$build/QorEngineUpdate.exe" \
  "$build/tests/wine/driver.exe" "$build/tests/dialog/page_finisher.exe"
cp page-dpi/ready-192.png "$source_dir/docs/ready-192.png"
echo "screenshot: docs/ready.png, docs/finished.png and docs/ready-192.png"
