#!/usr/bin/env bash
# The silent install under Wine against native qorpack extract, on a ~200 MB mixed payload (twice
# the installer benchmark's). Wine's own start, and the finishing command's, are taken out by a
# tiny package run the same way: the figure is (big /h - tiny /h) / qorpack extract, per round, the
# three runs of a round back to back in turns and on one CPU, so that a change of the machine's
# speed falls on all three alike; the median over the rounds is printed (goal: at most 1.3), for the
# wall time and for the processor time (the process, its children and the wineserver), which other
# work on a busy machine does not stretch. The
# Windows and the native build of install_stages then say where the time goes.
# Usage: install_wine_bench.sh QORPACK WINDOWS_BUILD WORKDIR [NATIVE_INSTALL_STAGES]
#        (QOR_BENCH_ROUNDS: rounds)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qorpack=$(realpath "$1") windows=$(realpath "$2") work=$3 stages=${4:-}
rounds=${QOR_BENCH_ROUNDS:-7}
mkdir -p "$work"; work=$(realpath "$work"); cd "$work"

if [ ! -f payload/.done ]; then
  rm -rf payload; mkdir payload
  python3 "$here/mixed_payload.py" payload 2
  touch payload/.done
fi
cp "$windows/bench/idle_finisher.exe" payload/setup.exe
cp "$windows/QorEngineUpdate.exe" payload/QorEngineUpdate.exe
names=$(cd payload && ls -1 | grep -v -x -e setup.exe -e QorEngineUpdate.exe -e big.ini -e tiny.ini -e logfile.txt)
# A package of the whole payload, and one of the finishing program and the small file only.
package_list() {
  printf '[Cmd]\r\nLANG=ENU\r\nTitle=Bench\r\nFileName=setup.exe /q\r\n[Files]\r\nFile01=setup.exe,setup.exe\r\n'
  local n=2 f
  for f in "$@"; do printf 'File%02d=%s,%s\r\n' $n "$f" "$f"; n=$((n + 1)); done
  printf '[Out]\r\nOutputName=%s\r\n[In]\r\nQorFileName=QorEngineUpdate.exe\r\n' "$package"
}
package=big.exe; package_list $names > payload/big.ini
package=tiny.exe; package_list small.txt > payload/tiny.ini
(cd payload && "$qorpack" build big.ini >/dev/null && "$qorpack" build tiny.ini >/dev/null && mv big.exe tiny.exe ..)
total=$(cd payload && cat setup.exe $names | wc -c)

source "$here/../tests/wine/env.sh" "$work"
unset DISPLAY
mkdir -p "$work/wine"
[ -d "$WINEPREFIX" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
wineserver -p 30 2>/dev/null || true  # kept up, so that no run pays for starting it (fails when one runs)
trap 'wineserver -k 2>/dev/null || true' EXIT
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
cpu=$(($(nproc) - 1))
wine "$work/big.exe" /h >/dev/null 2>&1 || true  # warm the file cache and Wine's DLLs
# The wineserver of this prefix (its environment names the prefix).
wineserver_pid() {
  local pid
  for pid in $(pgrep -x wineserver32; pgrep -x wineserver64; pgrep -x wineserver); do
    if tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then echo "$pid"; return; fi
  done
}

python3 - "$qorpack" "$work" "$rounds" "$temp" "$(wineserver_pid)" <<'PY'
import os, shutil, statistics, subprocess, sys, time
qorpack, work, rounds, temp, server = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
cpu = str(max(os.sched_getaffinity(0)))
tick = os.sysconf('SC_CLK_TCK')

def server_seconds():
    # The prefix's wineserver works for the installer too (handles, files): its processor time counts.
    if not server:
        return 0.0
    with open('/proc/%s/stat' % server) as stat:
        fields = stat.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick

def timed(command):
    """Wall time, and processor time (user and system, with the waited-for children and the wineserver)."""
    busy = server_seconds()
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit('install_wine_bench: %s exited with %d' % (' '.join(command), os.waitstatus_to_exitcode(status)))
    return seconds, usage.ru_utime + usage.ru_stime + server_seconds() - busy

def extract():
    shutil.rmtree(work + '/out', ignore_errors=True)
    return timed(['taskset', '-c', cpu, qorpack, 'extract', work + '/big.exe', work + '/out'])

runs = {'tiny': lambda: timed(['taskset', '-c', cpu, 'wine', work + '/tiny.exe', '/h']),
        'big': lambda: timed(['taskset', '-c', cpu, 'wine', work + '/big.exe', '/h']),
        'extract': extract}
times = {name: ([], []) for name in runs}
ratios = ([], [])
for round in range(rounds):
    order = list(runs)
    order = order[round % 3:] + order[:round % 3]
    measured = {name: runs[name]() for name in order}
    for kind in (0, 1):
        for name in runs:
            times[name][kind].append(measured[name][kind])
        ratios[kind].append((measured['big'][kind] - measured['tiny'][kind]) / measured['extract'][kind])
    if any(name.startswith('Qor') for name in os.listdir(temp)):
        sys.exit('install_wine_bench: an install left its folder in the temporary folder')
shutil.rmtree(work + '/out', ignore_errors=True)
for kind, what in ((0, 'wall time'), (1, 'processor time')):
    median = {name: statistics.median(values[kind]) for name, values in times.items()}
    print('%s, median of %d rounds: /h %.2f s, a tiny package\'s /h %.2f s, qorpack extract %.2f s' % (
        what, rounds, median['big'], median['tiny'], median['extract']))
    print('  (/h - tiny /h) / qorpack extract: %.2fx (rounds %.2f-%.2f; goal <= 1.3x)' % (
        statistics.median(ratios[kind]), min(ratios[kind]), max(ratios[kind])))
PY
echo "payload: $((total / 1000000)) MB in $(echo $names | wc -w) files + setup.exe; package $(stat -c %s big.exe) bytes"
echo "32-bit, under Wine:"
taskset -c "$cpu" wine "$windows/bench/install_stages.exe" "$(winepath -w "$work/big.exe")" 2>/dev/null | tr -d '\r'
if [ -n "$stages" ]; then
  echo "native:"
  taskset -c "$cpu" "$stages" "$work/big.exe"
fi
