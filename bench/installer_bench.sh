#!/usr/bin/env bash
# Installer benchmark. Usage: installer_bench.sh QORPACK WINDOWS_BUILD WORKDIR
# 1. Writes a deterministic ~100 MB mixed payload (text, structured binary, incompressible noise)
#    and the idle finisher as setup.exe (File01, so the version check has its block).
# 2. Builds our package with qorpack build, and an NSIS installer (zlib) that does the same job:
#    extract to the temporary directory, run setup.exe from there and wait, delete the files.
# 3. Runs both silently under Wine, pinned to one CPU, several times, and reports the best wall
#    time and the peak resident memory of each; then qorpack extract against unzip -o.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qorpack=$(realpath "$1") windows=$(realpath "$2") work=$3
runs=${QOR_BENCH_RUNS:-3}
mkdir -p "$work"; work=$(realpath "$work"); cd "$work"

bash "$here/mixed_payload.sh" payload
cp "$windows/bench/idle_finisher.exe" payload/setup.exe
cp "$windows/QorEngineUpdate.exe" payload/QorEngineUpdate.exe
names=$(cd payload && ls -1 | grep -v -x -e setup.exe -e QorEngineUpdate.exe -e list.ini -e logfile.txt -e qor-setup.exe)
total=$(cd payload && cat setup.exe $names | wc -c)

# Our package.
{
  printf '[Cmd]\r\nLANG=ENU\r\nTitle=Bench\r\nFileName=setup.exe /q\r\n[Files]\r\nFile01=setup.exe,setup.exe\r\n'
  n=2; for f in $names; do printf 'File%02d=%s,%s\r\n' $n "$f" "$f"; n=$((n + 1)); done
  printf '[Out]\r\nOutputName=qor-setup.exe\r\n[In]\r\nQorFileName=QorEngineUpdate.exe\r\n'
} > payload/list.ini
start=$(date +%s.%N)
(cd payload && "$qorpack" build list.ini >/dev/null && mv qor-setup.exe ..)
build_s=$(echo "$(date +%s.%N) - $start" | bc)

# The NSIS installer of the same files and the same job.
{
  echo 'Unicode false'
  echo 'SilentInstall silent'
  echo 'RequestExecutionLevel user'
  echo 'SetCompressor zlib'
  echo 'OutFile nsis-setup.exe'
  echo 'Section'
  echo '  SetOutPath $TEMP'
  for f in setup.exe $names; do echo "  File payload/$f"; done
  echo '  ExecWait '"'"'"$TEMP\setup.exe" /q'"'"' $0'
  for f in setup.exe $names; do echo "  Delete \$TEMP\\$f"; done
  echo 'SectionEnd'
} > nsis.nsi
start=$(date +%s.%N)
makensis -V1 nsis.nsi >/dev/null
nsis_build_s=$(echo "$(date +%s.%N) - $start" | bc)

source "$here/../tests/wine/env.sh" "$work"
unset DISPLAY
mkdir -p "$work/wine"
[ -d "$WINEPREFIX" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
wineserver -p 30  # kept up, so that neither run pays for starting it
# The prefix's own temporary folder: where it lies depends on the Wine version.
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)

# Best wall time and the peak resident memory of the installer process, pinned to CPU 0.
measure() {
  local best="" peak=0
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e %M %x' -o time.out taskset -c 0 wine "$@" >/dev/null 2>&1 || true
    read -r seconds kib status < time.out
    [ "$status" = 0 ] || { echo "installer_bench: $* exited with $status" >&2; exit 1; }
    if [ -z "$best" ] || [ "$(echo "$seconds < $best" | bc)" = 1 ]; then best=$seconds; fi
    [ "$kib" -gt "$peak" ] && peak=$kib
    if ls "$temp" | grep -q -e '^setup.exe$' -e '^SetupQor.ini$' -e '^Qor[0-9A-F]\{16\}$'; then
      echo "installer_bench: $* left files in the temporary directory" >&2; exit 1
    fi
  done
  echo "$best $peak"
}
wine "$work/qor-setup.exe" /h >/dev/null 2>&1 || true  # warm the file cache and Wine's DLLs
read -r ours_s ours_kib < <(measure "$work/qor-setup.exe" /h)
read -r nsis_s nsis_kib < <(measure "$work/nsis-setup.exe" /S)
wineserver -k

# qorpack extract against unzip -o of a zip (deflate) of the same files.
(cd payload && rm -f ../payload.zip && zip -q -6 ../payload.zip setup.exe $names)
best_extract="" best_unzip=""
for _ in $(seq "$runs"); do
  rm -rf out-qor out-zip; mkdir out-qor out-zip
  /usr/bin/time -f '%e' -o t1 "$qorpack" extract qor-setup.exe out-qor >/dev/null
  /usr/bin/time -f '%e' -o t2 unzip -q -o payload.zip -d out-zip
  t1=$(cat t1) t2=$(cat t2)
  if [ -z "$best_extract" ] || [ "$(echo "$t1 < $best_extract" | bc)" = 1 ]; then best_extract=$t1; fi
  if [ -z "$best_unzip" ] || [ "$(echo "$t2 < $best_unzip" | bc)" = 1 ]; then best_unzip=$t2; fi
done
cmp out-qor/media0.bin payload/media0.bin

echo "payload: $((total / 1000000)) MB in $(echo $names | wc -w) files + setup.exe"
echo "package: $(stat -c %s qor-setup.exe) bytes (build ${build_s}s); NSIS: $(stat -c %s nsis-setup.exe) bytes (build ${nsis_build_s}s)"
echo "silent install under Wine, one CPU, best of $runs:"
echo "  ours ${ours_s}s, peak $((ours_kib / 1024)) MiB; NSIS ${nsis_s}s, peak $((nsis_kib / 1024)) MiB"
echo "  time ratio ours/NSIS: $(echo "scale=2; $ours_s / $nsis_s" | bc)"
echo "qorpack extract ${best_extract}s, unzip -o ${best_unzip}s, ratio $(echo "scale=2; $best_extract / $best_unzip" | bc)"
