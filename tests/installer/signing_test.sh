#!/usr/bin/env bash
# Signed packages end to end: the example package is built with QorEngineUpdate.exe /m under Wine,
# signed with osslsigncode and a throwaway certificate made here with openssl, signed again (the
# signature replaced, then a second one nested), and each signed package must verify with qorpack
# (which reports the signature), install silently under Wine with exit status 0 and keep a digest
# that osslsigncode finds intact. One changed byte after signing must make both refuse it. The
# unsigned package must be the one the native builder writes, byte for byte.
# Usage: signing_test.sh SOURCE_DIR BUILD_DIR WORK_DIR [NATIVE_QORPACK]
set -euo pipefail
src=$1 build=$2 work=$3 qorpack=${4:-}
for tool in osslsigncode openssl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done
if [ -n "$qorpack" ] && [ ! -x "$qorpack" ]; then qorpack=; fi
[ -n "$qorpack" ] || echo "NOTE: no native qorpack given: its verdicts are not checked"

rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

source "$src/tests/wine/env.sh" "$build"
target="$WINEPREFIX/drive_c/Program Files/Qor Example"

# Runs a program under Wine through runner.exe; prints its signed exit status.
status_of() {
  bash "$src/tests/wine/wine-run.sh" "$build/tests/wine/runner.exe" "$@" >runner.out 2>/dev/null || true
  tr -d '\r' <runner.out | sed -n 's/^EXITCODE [0-9]* //p'
}

# The example package, built under Wine.
cp "$src/examples/list.ini" "$src/examples/readme.txt" "$src/examples/license.txt" .
cp "$build/examples/example_setup.exe" "$build/QorEngineUpdate.exe" .
status=$(status_of QorEngineUpdate.exe /m '.\list.ini')
package=$(ls QorExample*.exe 2>/dev/null | head -n 1 || true)
if [ "$status" != 0 ] || [ -z "$package" ]; then
  echo "FAIL: the example package was not built (exit status '$status')"
  exit 1
fi
cp "$package" unsigned.exe

if [ -n "$qorpack" ]; then
  mkdir native
  cp -p list.ini readme.txt license.txt example_setup.exe QorEngineUpdate.exe native/
  (cd native && "$qorpack" build list.ini >/dev/null 2>&1) || fail "the native build failed"
  cmp -s unsigned.exe "native/$package" || fail "the unsigned package differs from the native builder's"
  out=$("$qorpack" verify unsigned.exe) || fail "qorpack verify refuses the unsigned package"
  grep -qx "signature: not signed" <<<"$out" || fail "qorpack verify of the unsigned package says: $out"
fi
# The stub is copied byte for byte: its header is the one the signer will rewrite.
cmp -s -n "$(stat -c %s QorEngineUpdate.exe)" QorEngineUpdate.exe unsigned.exe || fail "the stub was not copied as it is"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Throwaway test signer" \
  >/dev/null 2>&1
sign() {  # sign IN OUT [osslsigncode options]
  local in=$1 out=$2
  shift 2
  osslsigncode sign "$@" -certs cert.pem -key key.pem -n "Qor Example" -in "$in" -out "$out" >/dev/null
}

# Verified by qorpack (exit status 0, the signature reported with its size), installed silently
# (exit status 0, the finishing command's log), and its digest intact for osslsigncode.
accepted() {
  local name=$1
  local size
  size=$(od -An -tu4 -j $(($(od -An -tu4 -j60 -N4 "$name") + 24 + 128 + 4)) -N4 "$name" | tr -d ' ')
  if [ -n "$qorpack" ]; then
    local out
    out=$("$qorpack" verify "$name" 2>&1) || fail "$name: qorpack verify refuses it: $out"
    grep -q "^signature: signed, a certificate table of $size bytes" <<<"$out" ||
      fail "$name: qorpack verify does not report the $size-byte table: $out"
    out=$("$qorpack" list "$name" 2>&1) || fail "$name: qorpack list fails: $out"
    grep -q "^signature: signed, a certificate table of $size bytes" <<<"$out" ||
      fail "$name: qorpack list does not report the signature: $out"
  fi
  rm -rf "$target"
  local status
  status=$(status_of "$name" /h)
  [ "$status" = 0 ] || fail "$name /h ended with '$status'"
  grep -q "exit status 0" "$target/install.log" 2>/dev/null || fail "$name /h installed nothing"
  osslsigncode verify -CAfile cert.pem -in "$name" >verify.out 2>&1 || fail "$name: osslsigncode verify fails"
  echo "$name accepted ($size-byte certificate table)"
}

# Refused by qorpack and by the installer, with nothing installed.
refused() {
  local name=$1 why=$2
  if [ -n "$qorpack" ]; then
    if "$qorpack" verify "$name" >/dev/null 2>qorpack.err; then fail "$name: qorpack verify accepts it ($why)"; fi
  fi
  rm -rf "$target"
  local status
  status=$(status_of "$name" /h)
  [ "$status" = -1 ] || fail "$name /h ended with '$status' ($why)"
  [ ! -e "$target/install.log" ] || fail "$name /h installed something ($why)"
  echo "$name refused: $why"
}

sign unsigned.exe signed.exe
accepted signed.exe
sign signed.exe resigned.exe
accepted resigned.exe
sign signed.exe nested.exe -nest -h sha1
accepted nested.exe

# A stub signed before the build: the package built from it is unsigned, with the stub's table
# inside it, and installs as it always did; signed, it installs like any other.
mkdir presigned
cp list.ini readme.txt license.txt example_setup.exe presigned/
sign QorEngineUpdate.exe presigned/QorEngineUpdate.exe
status=$(cd presigned && status_of QorEngineUpdate.exe /m '.\list.ini')
[ "$status" = 0 ] && [ -f "presigned/$package" ] || fail "no package built from the signed stub ('$status')"
cp "presigned/$package" presigned-unsigned.exe
if [ -n "$qorpack" ]; then
  out=$("$qorpack" verify presigned-unsigned.exe 2>&1) || fail "qorpack verify refuses the package of a signed stub"
  grep -q "^signature: not signed; the stub's own certificate table" <<<"$out" ||
    fail "qorpack verify of the package of a signed stub says: $out"
fi
rm -rf "$target"
[ "$(status_of presigned-unsigned.exe /h)" = 0 ] || fail "the package of a signed stub does not install"
sign presigned-unsigned.exe presigned-signed.exe
accepted presigned-signed.exe

# One changed byte: in the stub's header beside the signer's fields (the link time), in the setup
# script, in the payload, in the checksum word before the padding; and a certificate-table entry
# that no longer reaches the end of the file.
pe=$(od -An -tu4 -j60 -N4 signed.exe | tr -d ' ')
stub=$(stat -c %s QorEngineUpdate.exe)
flip() {  # flip IN OUT OFFSET
  cp "$1" "$2"
  local byte
  byte=$(od -An -tu1 -j "$3" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$2" bs=1 seek="$3" conv=notrunc 2>/dev/null
}
flip signed.exe bad-header.exe $((pe + 8))
refused bad-header.exe "the link time changed"
flip signed.exe bad-script.exe $((stub + 13 + 40))
refused bad-script.exe "a byte of the setup script changed"
flip signed.exe bad-payload.exe $((stub + 60000))
refused bad-payload.exe "a byte of the payload changed"
flip resigned.exe bad-checksum.exe $(($(stat -c %s unsigned.exe) - 4))
refused bad-checksum.exe "the checksum word changed"
flip signed.exe bad-entry.exe $((pe + 24 + 128 + 4))
refused bad-entry.exe "the certificate table's size changed"
if [ -n "$qorpack" ]; then
  out=$("$qorpack" verify bad-entry.exe 2>&1 || true)
  grep -q "certificate-table entry does not end at the end of the file" <<<"$out" ||
    fail "qorpack verify does not tell that the certificate-table entry is damaged: $out"
fi
if osslsigncode verify -CAfile cert.pem -in bad-payload.exe >/dev/null 2>&1; then
  fail "osslsigncode finds the changed payload's digest intact"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all signing cases passed"
