#!/usr/bin/env bash
# The 32-bit decoder against the native one: the Windows build of explode_serve runs under Wine
# beside the native build, both decode the same streams of the headline corpus (and of random
# bytes, as extra information), and they take turns a megabyte at a time on the same CPU, the one
# that goes first alternating, so that a change of the machine's speed falls on both alike. Prints, per kind of
# data, the median over the rounds of native time / 32-bit time: the 32-bit build's throughput as
# a share of the native one's (goal: at least 0.8 on the headline corpus), for ExplodeBuffer (what
# codec_bench measures) and for ExplodeStream fed as the installer feeds it.
# Usage: explode_wine_bench.sh NATIVE_SERVE WINDOWS_SERVE_EXE WORKDIR   (QOR_BENCH_ROUNDS: rounds)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
native=$(realpath "$1") windows=$(realpath "$2") work=$3
mkdir -p "$work"; work=$(realpath "$work")
"$native" corpus "$work/corpus.bin"

source "$here/../tests/wine/env.sh" "$work"
unset DISPLAY
mkdir -p "$work/wine"
[ -d "$WINEPREFIX" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
wineserver -p 30 2>/dev/null || true  # fails when one runs already
trap 'wineserver -k 2>/dev/null || true' EXIT

python3 - "$native" "$windows" "$work/corpus.bin" "${QOR_BENCH_ROUNDS:-21}" <<'PY'
import os, statistics, subprocess, sys
native, windows, corpus, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
# Drive Z: is the Unix root in every Wine prefix.
corpus_windows = 'Z:' + corpus.replace('/', '\\')

def start(command):
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    runs = []
    for line in process.stdout:
        words = line.split()
        if words == ['ready']:
            return process, runs
        if words[:1] == ['run']:
            runs.append((words[1], int(words[2])))
        else:
            sys.exit('explode_wine_bench: %s: %s' % (command[0], line.strip()))
    sys.exit('explode_wine_bench: %s ended before it was ready' % command[0])

def ask(process, mode, run):
    process.stdin.write('%s %d\n' % (mode, run))
    nanoseconds = int(process.stdout.readline())
    if nanoseconds < 0:
        sys.exit('explode_wine_bench: a stream did not decode')
    return nanoseconds

cpu = str(max(os.sched_getaffinity(0)))
ours, runs = start(['taskset', '-c', cpu, native, 'serve', corpus])
wine, wine_runs = start(['taskset', '-c', cpu, 'wine', windows, 'serve', corpus_windows])
if runs != wine_runs:
    sys.exit('explode_wine_bench: the two builds see different runs')
groups = {'headline (dll+text)': ('dll', 'text'), 'dll': ('dll',), 'text': ('text',), 'random': ('random',)}
print('corpus: ' + ', '.join('%s %.1f MB' % (kind, sum(b for k, b in runs if k == kind) / 1e6)
                             for kind in ('dll', 'text', 'random')) + ', in %d runs' % len(runs))
for mode in ('buffer', 'stream'):
    ratios = {name: [] for name in groups}
    rates = {name: ([], []) for name in groups}
    fastest = [[None, None] for _ in runs]
    for round in range(rounds):
        times = [[0, 0] for _ in runs]
        for run in range(len(runs)):
            for turn in range(2):
                native_now = (run + round + turn) % 2 == 0
                side = 0 if native_now else 1
                times[run][side] = ask(ours if native_now else wine, mode, run)
                if fastest[run][side] is None or times[run][side] < fastest[run][side]:
                    fastest[run][side] = times[run][side]
        for name, kinds in groups.items():
            chosen = [i for i, (kind, _) in enumerate(runs) if kind in kinds]
            native_ns = sum(times[i][0] for i in chosen)
            wine_ns = sum(times[i][1] for i in chosen)
            size = sum(runs[i][1] for i in chosen)
            ratios[name].append(native_ns / wine_ns)
            rates[name][0].append(size * 1e3 / native_ns)
            rates[name][1].append(size * 1e3 / wine_ns)
    what = 'ExplodeBuffer' if mode == 'buffer' else 'ExplodeStream, 2048-byte reads, 4096-byte writes'
    print('%s, median of %d rounds, paired a megabyte at a time:' % (what, rounds))
    for name, kinds in groups.items():
        goal = ' (goal >= 0.8x)' if name.startswith('headline') and mode == 'buffer' else ''
        # Each side's fastest time per run, summed: what the two take when nothing else runs.
        chosen = [i for i, (kind, _) in enumerate(runs) if kind in kinds]
        best = sum(fastest[i][0] for i in chosen) / sum(fastest[i][1] for i in chosen)
        print('  %-20s 32-bit / native %5.2fx (%6.1f vs %6.1f MB/s; rounds %.2f-%.2f; fastest %.2fx)%s' % (
            name + ':', statistics.median(ratios[name]), statistics.median(rates[name][1]),
            statistics.median(rates[name][0]), min(ratios[name]), max(ratios[name]), best, goal))
for process in (ours, wine):
    process.stdin.close()
    process.wait()
PY
