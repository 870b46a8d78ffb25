#!/usr/bin/env bash
# Package build benchmark: one ~100 MB mixed payload (real PE files, text, incompressible data),
# packed by `qorpack build` (on every core, and on one) and by makensis (zlib) in the same run.
# Prints build times, package sizes, their ratios and the peak memory of both (from /usr/bin/time
# -v), and checks that every number of threads gives the same bytes.
# Usage: builder_bench.sh QORPACK WORK_DIR [STUB]   (STUB: QorEngineUpdate.exe; a stand-in otherwise)
set -euo pipefail
qorpack=$1 work=$2 stub=${3:-}
dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
for tool in makensis /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "builder_bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/payload"
cd "$work"

# The payload, at most 99 files (the packing list's limit): about 40 MB of Wine's PE files (those
# of 0.3 to 3 MB), three 10 MB text files from the system's headers and documentation, and 30 MB of
# incompressible data in two files.
total=0
while read -r size f; do
  [ "$total" -ge 40000000 ] && break
  cp "$f" payload/
  total=$((total + size))
done < <(find "$dlls" -name '*.dll' -size +300k -size -3000k -printf '%s %p\n' | sort -k2)
# Cut pipelines end their writers with SIGPIPE, which is no failure here.
set +o pipefail
for i in 1 2 3; do
  find /usr/share/doc /usr/share/man /usr/include -type f \( -name '*.h' -o -name '*.txt' -o -name 'copyright' \) \
    2>/dev/null | sort | head -n $((i * 4000)) | tail -n 4000 | xargs cat 2>/dev/null | head -c 10000000 >"payload/text$i.txt"
done
set -o pipefail
head -c 25000000 /dev/urandom >payload/random1.bin
head -c 5000000 /dev/urandom >payload/random2.bin
payload_bytes=$(du -cb payload/* | tail -1 | cut -f1)

# The first payload file, which must carry a version block.
cp "$dlls/kernel32.dll" payload/00kernel32.exe
if [ -n "$stub" ]; then
  cp "$stub" stub.exe
else
  # A stand-in stub: a Windows executable holding the marker once; its bytes do not change the work.
  { cat "$dlls/kernel32.dll"; printf '<iiiiiiiiiii>'; } >stub.exe
fi
{
  # The finishing command must name one of the payload files, and the first must carry a version
  # block: payload/00kernel32.exe (a system DLL under a program's name) is both.
  printf '[Cmd]\r\nLANG=ENU\r\nTitle=Bench\r\nFileName=00kernel32.exe\r\n[Files]\r\n'
  n=1
  for f in payload/*; do
    printf 'File%02d=%s, payload\\%s\r\n' "$n" "$(basename "$f")" "$(basename "$f")"
    n=$((n + 1))
  done
  printf '[Out]\r\nOutputName=bench.qor.exe\r\n[In]\r\nQorFileName=stub.exe\r\n'
} >list.ini
{
  echo 'SetCompressor zlib'
  echo 'OutFile bench.nsis.exe'
  echo 'InstallDir $TEMP\bench'
  echo 'Section'
  echo '  SetOutPath $INSTDIR'
  echo '  File /r payload\*.*'
  echo 'SectionEnd'
} >bench.nsi

measure() {  # measure NAME COMMAND...: prints seconds and peak kB
  /usr/bin/time -v -o "$1.time" "${@:2}" >"$1.out" 2>&1 || { echo "builder_bench: $1 failed" >&2; cat "$1.out" >&2; exit 1; }
  local seconds peak
  seconds=$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$1.time" | awk -F: '{ if (NF == 3) print $1*3600+$2*60+$3; else print $1*60+$2 }')
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$1.time")
  echo "$seconds $peak"
}

read -r q_seconds q_peak < <(measure qorpack "$qorpack" build list.ini)
mv bench.qor.exe bench.qor-all.exe
read -r q1_seconds q1_peak < <(measure qorpack1 "$qorpack" build -j 1 list.ini)
read -r n_seconds n_peak < <(measure makensis makensis -V1 bench.nsi)
cmp -s bench.qor-all.exe bench.qor.exe || { echo "builder_bench: -j 1 and the default give other bytes" >&2; exit 1; }
q_size=$(stat -c %s bench.qor.exe)
n_size=$(stat -c %s bench.nsis.exe)

printf 'payload:          %d bytes in %d files, %d cores\n' "$payload_bytes" "$(ls payload | wc -l)" "$(nproc)"
printf 'qorpack build:    %6.2f s  %11d bytes  peak %6d kB\n' "$q_seconds" "$q_size" "$q_peak"
printf 'qorpack build -j 1: %4.2f s  %11s bytes  peak %6d kB  (the same bytes)\n' "$q1_seconds" "$q_size" "$q1_peak"
printf 'makensis zlib:    %6.2f s  %11d bytes  peak %6d kB\n' "$n_seconds" "$n_size" "$n_peak"
awk -v qs="$q_seconds" -v q1="$q1_seconds" -v ns="$n_seconds" -v qz="$q_size" -v nz="$n_size" -v qp="$q_peak" 'BEGIN {
  printf "time ratio (qorpack / makensis): %.3f (goal: at most 0.15); on one thread %.3f\n", qs / ns, q1 / ns
  printf "size ratio (qorpack / makensis): %.3f\n", qz / nz
  printf "qorpack peak memory: %.1f MB (goal: under 64 MB)\n", qp / 1024
}'
