#!/usr/bin/env bash
# Runs one Windows test of the build folder apart from the others that run at the same time in the
# same prefix: every Windows program it starts gets the test's own temporary folder, emptied first
# (C:\tests\NAME, see env.sh), and shows its windows on a virtual display of the test's own, so that
# no test sees another's files and no window covers another test's screenshot.
# Usage: isolate.sh BUILD_DIR NAME COMMAND [ARGUMENTS]   (CTest runs every Windows test this way)
set -uo pipefail
build=$1 name=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

bash "$here/prefix.sh" up "$build" || exit 1
export QOR_TEST=$name
source "$here/env.sh" "$build"
rm -rf "$WINEPREFIX/drive_c/tests/$name"
mkdir -p "$WINEPREFIX/drive_c/tests/$name"

display=$qor_state/displays/$name
trap 'bash "$here/prefix.sh" stop-display "$display"' EXIT
bash "$here/prefix.sh" display "$display" || exit 1
QOR_TEST_DISPLAY=$(cat "$display/display")
export QOR_TEST_DISPLAY
"$@"
