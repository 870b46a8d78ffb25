#!/usr/bin/env bash
# What isolate.sh gives every Windows test, seen from this test: its Windows programs have the test's
# own temporary folder as TEMP and TMP, empty when the test starts, and a virtual display that is
# not the prefix's.
# Usage (from inside the build folder, through isolate.sh): isolation.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/env.sh" "$1"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

own="C:\\tests\\${QOR_TEST:-}"
[ -n "${QOR_TEST:-}" ] || fail "QOR_TEST is not set: the test does not run through isolate.sh"
seen=$(bash "$here/wine-run.sh" cmd /c 'echo %TEMP% %TMP%' </dev/null 2>/dev/null | tr -d '\r')
[ "$seen" = "$own $own" ] || fail "TEMP and TMP are '$seen', expected '$own $own'"
left=$(ls -A "$WINEPREFIX/drive_c/tests/${QOR_TEST:-}")
[ -z "$left" ] || fail "the temporary folder holds $left at the start"
[ -n "${QOR_TEST_DISPLAY:-}" ] && [ "$DISPLAY" = "$QOR_TEST_DISPLAY" ] &&
  [ "$DISPLAY" != "$(cat "$qor_state/display")" ] ||
  fail "the display is ${DISPLAY:-none}, the prefix's is $(cat "$qor_state/display")"
[ "$failures" = 0 ] && echo "isolation: TEMP and TMP are $own, empty; display $DISPLAY"
exit $((failures > 0))
