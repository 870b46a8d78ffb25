#!/usr/bin/env bash
# The installer benchmarks' payload: a deterministic ~100 MB mix of text, structured binary records
# and incompressible noise, written once into DIR (kept for the next run).
# Usage: mixed_payload.sh DIR
set -euo pipefail
dir=$1
[ -f "$dir/.done" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir"
python3 - "$dir" <<'PY'
import random, sys
r = random.Random(20240501)
words = [''.join(r.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(r.randint(2, 9))) for _ in range(3000)]
def text(n):
    out, size = [], 0
    while size < n:
        line = ' '.join(r.choice(words) for _ in range(r.randint(4, 14))) + '\r\n'
        out.append(line); size += len(line)
    return ''.join(out)[:n].encode()
def records(n):
    out = bytearray()
    i = 0
    while len(out) < n:
        out += i.to_bytes(4, 'little') + bytes([i % 7, 0, 0, 1]) + (i * 2654435761 % 1000).to_bytes(4, 'little') + b'\0' * 4
        i += 1
    return bytes(out[:n])
files = {}
for k in range(6): files['doc%d.txt' % k] = text(6_000_000)
for k in range(4): files['data%d.bin' % k] = records(8_000_000)
for k in range(3): files['media%d.bin' % k] = r.randbytes(10_000_000)
files['small.txt'] = b'small file\r\n'
for name, data in files.items():
    open(sys.argv[1] + '/' + name, 'wb').write(data)
PY
touch "$dir/.done"
