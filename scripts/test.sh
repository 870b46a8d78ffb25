#!/usr/bin/env bash
# Sets everything up, builds the native, sanitizer and Windows builds, and runs every test: the
# native unit tests, the sanitizer build with its fuzzers, then the Windows executable's tests under
# Wine 8 (Debian 12's) and again under Wine 10 (the next release's, in a chroot that
# scripts/wine10.sh sets up), each Wine in a prefix of its own. QOR_WINES picks the Wines: "8 10"
# (the default), "8" or "10". Ends with CTest's summary of the last Windows run; fails if any run
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."
wines=${QOR_WINES:-8 10}
for wine in $wines; do
  case "$wine" in
    8 | 10) ;;
    *) echo "test.sh: QOR_WINES holds '$wine'; it names Wines 8 and 10 only" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh || exit 1
bash scripts/build.sh native asan windows || exit 1

status=0
for preset in native asan; do
  echo "== tests: $preset"
  ctest --test-dir "build/$preset" --output-on-failure -j"$(nproc)" || status=1
done
# The Windows tests mostly wait for Wine, for windows and for the finishing commands: twice as many
# as there are cores. Each has a temporary folder and a display of its own (tests/wine/isolate.sh).
jobs=$((2 * $(nproc)))
for wine in $wines; do
  echo "== tests: windows, under Wine $wine"
  if [ "$wine" = 8 ]; then
    ctest --test-dir build/windows --output-on-failure -j"$jobs" || status=1
  else
    bash scripts/wine10.sh run ctest --test-dir build/windows --output-on-failure -j"$jobs" || status=1
  fi
done
exit $status
