#!/usr/bin/env bash
# One large file, every core: a package of one 256 MiB payload file (the system's i386 DLLs and
# x86-64 shared libraries, text, zeros and random bytes, as a data pack or disk image mixes them)
# built by `qorpack build -j 1` and `-j N` in turns, several rounds. Prints each round's times, the
# median ratio (the goal: at most 0.6 on two cores), the peak memory of both, and checks that both
# give the same bytes.
# Usage: single_file_bench.sh QORPACK WORK_DIR [THREADS [ROUNDS]]
set -euo pipefail
qorpack=$(realpath "$1") work=$2 threads=${3:-$(nproc)} rounds=${4:-3}
dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Cut pipelines end their writers with SIGPIPE, which is no failure here.
set +o pipefail
{
  find "$dlls" -name '*.dll' -type f | sort | xargs cat 2>/dev/null | head -c $((96 << 20))
  find /usr/lib/x86_64-linux-gnu -name '*.so*' -type f | sort | xargs cat 2>/dev/null | head -c $((64 << 20))
  find /usr/share/doc /usr/include -type f \( -name '*.h' -o -name 'copyright' \) | sort | xargs cat 2>/dev/null |
    head -c $((48 << 20))
  head -c $((32 << 20)) /dev/zero
  head -c $((16 << 20)) /dev/urandom
} >payload.bin
set -o pipefail
[ "$(stat -c %s payload.bin)" -eq $((256 << 20)) ] || { echo "single_file_bench: the payload is short" >&2; exit 1; }
cp "$dlls/kernel32.dll" 00kernel32.exe
# A stand-in stub: a Windows executable holding the marker once; its bytes do not change the work.
{ cat "$dlls/kernel32.dll"; printf '<iiiiiiiiiii>'; } >stub.exe
printf '[Cmd]\r\nLANG=ENU\r\nTitle=Bench\r\nFileName=00kernel32.exe\r\n[Files]\r\nFile01=00kernel32.exe, 00kernel32.exe\r\nFile02=payload.bin, payload.bin\r\n[Out]\r\nOutputName=bench.exe\r\n[In]\r\nQorFileName=stub.exe\r\n' >list.ini

measure() {  # measure JOBS: prints seconds and peak kB, and keeps the package as bench-JOBS.exe
  /usr/bin/time -f '%e %M' -o time.txt "$qorpack" build -j "$1" list.ini >build.out 2>&1 ||
    { echo "single_file_bench: -j $1 failed" >&2; cat build.out >&2; exit 1; }
  mv bench.exe "bench-$1.exe"
  cat time.txt
}

ratios=()
for round in $(seq 1 "$rounds"); do
  # Who goes first alternates, so that a change of the machine's speed falls on both alike.
  if [ $((round % 2)) -eq 1 ]; then
    read -r one one_peak < <(measure 1)
    read -r all all_peak < <(measure "$threads")
  else
    read -r all all_peak < <(measure "$threads")
    read -r one one_peak < <(measure 1)
  fi
  cmp -s bench-1.exe "bench-$threads.exe" || { echo "single_file_bench: -j 1 and -j $threads give other bytes" >&2; exit 1; }
  ratio=$(awk -v a="$all" -v o="$one" 'BEGIN { printf "%.3f", a / o }')
  ratios+=("$ratio")
  printf 'round %d: -j 1 %6.2f s (peak %d kB), -j %d %6.2f s (peak %d kB): %s (the same bytes)\n' \
    "$round" "$one" "$one_peak" "$threads" "$all" "$all_peak" "$ratio"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
printf 'payload: one file of %d bytes, %d cores; package %d bytes\n' "$((256 << 20))" "$(nproc)" "$(stat -c %s bench-1.exe)"
printf 'time ratio (-j %d / -j 1), median of %d rounds: %s (goal: at most 0.6 on two cores)\n' "$threads" "$rounds" "$median"
