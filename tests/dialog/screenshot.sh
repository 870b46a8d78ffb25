#!/usr/bin/env bash
# Takes the documentation's pictures of the installer page: docs/ready.png (the page as it opens)
# and docs/finished.png (after the install), with the example product's texts, under Wine on the
# build folder's virtual display. Needs ImageMagick (convert) for the PNG files.
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
echo "screenshot: docs/ready.png and docs/finished.png"
