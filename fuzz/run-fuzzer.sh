#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a scratch copy of its corpus (the corpus in the
# source tree stays as committed). Usage: run-fuzzer.sh TARGET CORPUS WORKDIR SECONDS
set -euo pipefail
target=$1 corpus=$2 work=$3 seconds=$4
rm -rf "$work"; mkdir -p "$work/corpus"
cp -r "$corpus"/. "$work/corpus/" 2>/dev/null || true
cd "$work"
exec "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 corpus
