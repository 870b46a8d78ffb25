#!/usr/bin/env bash
# The installer benchmarks' payload (mixed_payload.py at scale 1: a deterministic ~100 MB mix of
# text, structured binary records and incompressible noise), written once into DIR and kept for the
# next run.
# Usage: mixed_payload.sh DIR
set -euo pipefail
dir=$1
[ -f "$dir/.done" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir"
python3 "$(dirname "$0")/mixed_payload.py" "$dir" 1
touch "$dir/.done"
