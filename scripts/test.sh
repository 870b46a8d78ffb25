#!/usr/bin/env bash
# Sets everything up, builds the native, sanitizer and Windows builds, and runs every test: the
# native unit tests, the sanitizer build with its fuzzers, then the Windows executable's tests under
# Wine. Ends with CTest's summary of the Windows run; fails if any run failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
bash scripts/build.sh native asan windows || exit 1

status=0
for preset in native asan windows; do
  echo "== tests: $preset"
  # -j1 for windows: its tests share one Wine prefix and one virtual display.
  jobs=$(nproc); [ "$preset" = windows ] && jobs=1
  ctest --test-dir "build/$preset" --output-on-failure -j"$jobs" || status=1
done
exit $status
