# Writes the benchmarks' deterministic mixed payload into DIR: text, structured binary records and
# incompressible noise, about SCALE x 98 MB in 13 x SCALE files, plus one small text file.
# Usage: python3 mixed_payload.py DIR [SCALE]
import random
import sys

folder = sys.argv[1]
scale = int(sys.argv[2]) if len(sys.argv) > 2 else 1
r = random.Random(20240501)
words = [''.join(r.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(r.randint(2, 9))) for _ in range(3000)]


def text(n):
    out, size = [], 0
    while size < n:
        line = ' '.join(r.choice(words) for _ in range(r.randint(4, 14))) + '\r\n'
        out.append(line)
        size += len(line)
    return ''.join(out)[:n].encode()


def records(n):
    out = bytearray()
    i = 0
    while len(out) < n:
        out += i.to_bytes(4, 'little') + bytes([i % 7, 0, 0, 1]) + (i * 2654435761 % 1000).to_bytes(4, 'little') + b'\0' * 4
        i += 1
    return bytes(out[:n])


files = {}
for k in range(6 * scale):
    files['doc%d.txt' % k] = text(6_000_000)
for k in range(4 * scale):
    files['data%d.bin' % k] = records(8_000_000)
for k in range(3 * scale):
    files['media%d.bin' % k] = r.randbytes(10_000_000)
files['small.txt'] = b'small file\r\n'
for name, data in files.items():
    with open(folder + '/' + name, 'wb') as out:
        out.write(data)
