#!/usr/bin/env bash
# The same sources must give the same executable byte for byte (so packages built from the same files
# are identical too): builds QorEngineUpdate.exe again in another folder and compares.
# Usage: reproducible.sh SOURCE_DIR SCRATCH_BUILD_DIR BUILT_EXE
set -euo pipefail
source=$1 scratch=$2 built=$3
cmake -S "$source" --preset windows -B "$scratch" >/dev/null
cmake --build "$scratch" --target QorEngineUpdate -j"$(nproc)" >/dev/null
if cmp "$built" "$scratch/QorEngineUpdate.exe"; then
  echo "reproducible: $(stat -c %s "$built") bytes, identical"
else
  echo "reproducible: the two builds differ" >&2
  exit 1
fi
