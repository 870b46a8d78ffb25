#!/usr/bin/env bash
# Configures and builds the given presets (native, asan, windows) into build/<preset>.
# The Windows build is told where the native qorpack is, for the tests that compare both builders.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in "$@"; do
  extra=()
  if [ "$preset" = windows ] && [ -x build/native/tools/qorpack ]; then
    extra=(-DQOR_NATIVE_QORPACK="$PWD/build/native/tools/qorpack")
  fi
  echo "== build: $preset"
  cmake --preset "$preset" "${extra[@]}" >/dev/null
  cmake --build "build/$preset" -j"$(nproc)"
done
