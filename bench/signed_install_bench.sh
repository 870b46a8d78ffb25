#!/usr/bin/env bash
# Signed install benchmark. Usage: signed_install_bench.sh QORPACK WINDOWS_BUILD WORKDIR
# Builds one package of the ~100 MB mixed payload (mixed_payload.sh) with the idle finisher as
# setup.exe, and signs copies of it with a throwaway certificate: with SHA-256, with SHA-1, and with
# SHA-256 holding a nested SHA-1 signature. Each round then installs every variant silently under
# Wine, pinned to one CPU, in an order that turns each round; the ratio of each signed install to
# the unsigned one of the same round is kept, and the medians are reported. The same again on two
# CPUs, where the installer's thread that computes the digest runs beside its extraction (on one
# CPU the two take turns, and the digest's processor time shows whole). Then the same for qorpack
# verify natively. QOR_BENCH_CPUS sets the CPU lists (taskset's form, blank-separated; default
# "0 0,1"), QOR_BENCH_ROUNDS the rounds (default 7).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qorpack=$(realpath "$1") windows=$(realpath "$2") work=$3
rounds=${QOR_BENCH_ROUNDS:-7}
read -ra cpu_lists <<<"${QOR_BENCH_CPUS:-0 0,1}"
for tool in osslsigncode openssl /usr/bin/time taskset; do
  command -v "$tool" >/dev/null || { echo "signed_install_bench: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done
mkdir -p "$work"; work=$(realpath "$work"); cd "$work"

bash "$here/mixed_payload.sh" payload
cp "$windows/bench/idle_finisher.exe" payload/setup.exe
cp "$windows/QorEngineUpdate.exe" payload/QorEngineUpdate.exe
names=$(cd payload && ls -1 | grep -v -x -e setup.exe -e QorEngineUpdate.exe -e list.ini -e logfile.txt)
{
  printf '[Cmd]\r\nLANG=ENU\r\nTitle=Bench\r\nFileName=setup.exe /q\r\n[Files]\r\nFile01=setup.exe,setup.exe\r\n'
  n=2; for f in $names; do printf 'File%02d=%s,%s\r\n' $n "$f" "$f"; n=$((n + 1)); done
  printf '[Out]\r\nOutputName=qor-setup.exe\r\n[In]\r\nQorFileName=QorEngineUpdate.exe\r\n'
} > payload/list.ini
(cd payload && "$qorpack" build list.ini >/dev/null && mv qor-setup.exe ../unsigned.exe)

rm -f sha256.exe sha1.exe nested.exe
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Bench signer" \
  >/dev/null 2>&1
sign() { osslsigncode sign -certs cert.pem -key key.pem "$@" >/dev/null; }
sign -h sha256 -in unsigned.exe -out sha256.exe
sign -h sha1 -in unsigned.exe -out sha1.exe
sign -nest -h sha1 -in sha256.exe -out nested.exe
variants=(unsigned sha256 sha1 nested)

source "$here/../tests/wine/env.sh" "$work"
unset DISPLAY
mkdir -p "$work/wine"
[ -d "$WINEPREFIX" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
wineserver -p 30  # kept up, so that no run pays for starting it
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"

# Seconds of one silent install, pinned to the CPUs of $cpus; fails unless it installed and cleaned
# up.
install_time() {
  /usr/bin/time -f '%e %x' -o time.out taskset -c "$cpus" wine "$work/$1.exe" /h >/dev/null 2>&1 || true
  read -r seconds status < time.out
  [ "$status" = 0 ] || { echo "signed_install_bench: $1.exe /h exited with $status" >&2; exit 1; }
  if ls "$temp" | grep -q -e '^Qor[0-9A-F]\{16\}$'; then
    echo "signed_install_bench: $1.exe left its folder in the temporary directory" >&2; exit 1
  fi
  echo "$seconds"
}
# Seconds of qorpack verify.
verify_time() {
  /usr/bin/time -f '%e' -o time.out "$qorpack" verify "$work/$1.exe" >/dev/null
  cat time.out
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

cpus=${cpu_lists[0]}
for variant in "${variants[@]}"; do install_time "$variant" >/dev/null; done  # warm the cache and Wine
measure() {  # measure FUNCTION: per-round ratios to unsigned, and times, in files
  local what=$1
  rm -f "$what".*.times "$what".*.ratios
  for round in $(seq "$rounds"); do
    local order=("${variants[@]:round % 4}" "${variants[@]:0:round % 4}")
    declare -A took=()
    for variant in "${order[@]}"; do took[$variant]=$("$what" "$variant"); done
    for variant in "${variants[@]}"; do
      echo "${took[$variant]}" >>"$what.$variant.times"
      echo "scale=4; ${took[$variant]} / ${took[unsigned]}" | bc >>"$what.$variant.ratios"
    done
  done
}
report=()
for cpus in "${cpu_lists[@]}"; do
  measure install_time
  for variant in "${variants[@]}"; do
    mv "install_time.$variant.times" "install_time-$cpus.$variant.times"
    mv "install_time.$variant.ratios" "install_time-$cpus.$variant.ratios"
  done
  report+=("install_time-$cpus")
done
measure verify_time
report+=(verify_time)
wineserver -k

echo "package: $(stat -c %s unsigned.exe) bytes; $rounds rounds, medians (ratio: per round, to unsigned;"
echo "the range of the rounds in brackets)"
for what in "${report[@]}"; do
  case $what in install_time-*) echo "silent install under Wine, CPUs ${what#install_time-}:" ;;
    *) echo "qorpack verify:" ;; esac
  for variant in "${variants[@]}"; do
    printf '  %-9s %6.2fs  ratio %s (%s-%s)\n' "$variant" "$(median <"$what.$variant.times")" \
      "$(median <"$what.$variant.ratios")" "$(sort -g "$what.$variant.ratios" | head -1)" \
      "$(sort -g "$what.$variant.ratios" | tail -1)"
  done
done
