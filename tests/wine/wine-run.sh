#!/usr/bin/env bash
# The cross emulator of the Windows build: runs a program of the build under Wine in the build
# folder's own prefix (found from the current directory upwards), setting the prefix up first if
# needed. Wine keeps only the low 8 bits of the exit status; tests that need all 32 run the program
# through runner.exe.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$PWD
while [ ! -f "$build/CMakeCache.txt" ]; do
  if [ "$build" = / ]; then
    echo "wine-run.sh: run me from inside a build folder" >&2
    exit 2
  fi
  build=$(dirname "$build")
done
# A test that isolate.sh runs has its prefix up already (and its services started outside the test).
[ -n "${QOR_TEST:-}" ] || bash "$here/prefix.sh" up "$build"
source "$here/env.sh" "$build"
exec wine "$@"
