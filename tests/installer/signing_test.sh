#!/usr/bin/env bash
# Signed packages end to end: the example package is built with QorEngineUpdate.exe /m under Wine,
# signed with osslsigncode and a throwaway certificate made here with openssl, signed again (the
# signature replaced, then a second one nested), and each signed package must verify with qorpack
# (which reports the signature), install silently under Wine with exit status 0 and keep a digest
# that osslsigncode finds intact. One changed byte after signing must make both refuse it, also with
# the package checksum recomputed, where only the signatures' digests can tell: a table of regions
# and kinds of signature gives both verdicts beside osslsigncode's. The unsigned package must be the
# one the native builder writes, byte for byte.
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

# The temporary folder of the installs started here. The installer extracts while it computes the
# image digest, so a refused package must leave no private folder there ("Qor" and 16 hex digits).
temp_dir=
[ -z "${QOR_TEMP:-}" ] || temp_dir=$(winepath -u "$QOR_TEMP" 2>/dev/null | tr -d '\r')
private_left() {
  [ -n "$temp_dir" ] && ls "$temp_dir" 2>/dev/null | grep -qE '^Qor[0-9A-F]{16}$'
}
[ -n "$temp_dir" ] || echo "NOTE: no temporary folder known: what refused installs leave is not checked"

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
# A timestamp authority of the test's own, so that timestamps need no network.
openssl req -x509 -newkey rsa:2048 -nodes -keyout tsakey.pem -out tsacert.pem -days 2 -subj "/CN=Throwaway TSA" \
  -addext "extendedKeyUsage=critical,timeStamping" >/dev/null 2>&1
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
  osslsigncode verify -CAfile cert.pem -TSA-CAfile tsacert.pem -in "$name" >verify.out 2>&1 ||
    fail "$name: osslsigncode verify fails"
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
  ! private_left || fail "$name /h left its extraction folder ($why)"
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

# ---- Every signature is checked: one changed byte in each region of each kind of signed package ----
# The kinds: signed once, signed again, nested both ways (SHA-1 inside SHA-256 and SHA-256 inside
# SHA-1), timestamped by a throwaway timestamp authority, and with an unauthenticated blob (an unsigned
# attribute nobody checks). The regions: the stub (its DOS message, harmless to run), the setup
# script, the payload, the signer's padding, the image checksum, the checksum word, the image digest
# inside the first signature's signed content and another byte of that content, the last bytes of
# the table (the unsigned attributes where there are any: the nested signature, the timestamp or the
# blob; else the signer's signature value) and the nested signature's image digest. The package
# checksum word is recomputed after each change but to the checksum word itself, so that only the
# signature can tell.
sign unsigned.exe sha1.exe -h sha1
sign sha1.exe nested-reverse.exe -nest -h sha256
sign unsigned.exe timestamped.exe -TSA-certs tsacert.pem -TSA-key tsakey.pem
sign unsigned.exe blob.exe -addUnauthenticatedBlob
for name in sha1.exe nested-reverse.exe timestamped.exe blob.exe; do accepted "$name"; done
# A nested signature shows as one of its own, by both.
if [ -n "$qorpack" ]; then
  out=$("$qorpack" verify nested-reverse.exe 2>&1)
  grep -q "^signature 1: CN=Throwaway test signer: SHA-1, no timestamp, matches" <<<"$out" &&
    grep -q "^signature 2, nested in 1: CN=Throwaway test signer: SHA-256, no timestamp, matches" <<<"$out" ||
    fail "qorpack verify of the nested signatures says: $out"
  out=$("$qorpack" verify timestamped.exe 2>&1)
  grep -q "^signature 1: CN=Throwaway test signer: SHA-256, timestamped, matches" <<<"$out" ||
    fail "qorpack verify of the timestamped signature says: $out"
fi
rm -rf "$target"
status=$(status_of nested-reverse.exe /h /log 'C:\signing.log')
tr -d '\r' <"$WINEPREFIX/drive_c/signing.log" >signing.log
grep -qx "signature: CN=Throwaway test signer: SHA-1, no timestamp, matches" signing.log &&
  grep -qx "nested signature: CN=Throwaway test signer: SHA-256, no timestamp, matches" signing.log ||
  fail "the record of a nested-signed install says: $(cat signing.log)"

unsigned_size=$(stat -c %s unsigned.exe)
checksum_field=$((pe + 24 + 64))
entry_field=$((pe + 24 + 128))
# The file offset of the Nth image digest (1: the first signature's, 2: the nested one's): the value
# of the octet string that holds the digest osslsigncode reports, in the signature's structure.
digest_at() {  # digest_at FILE N
  local hex line table
  hex=$(osslsigncode verify -in "$1" 2>/dev/null | tr -d '\r' | sed -n 's/^Current message digest *: *//p' |
    sed -n "$2p" | tr -d ' ')
  rm -f signature.der
  osslsigncode extract-signature -in "$1" -out signature.der >/dev/null 2>&1 || return 0
  # Whole, into a file: a reader that stops early would end openssl with SIGPIPE, a failed pipeline.
  openssl asn1parse -inform DER -in signature.der >signature.txt || return 0
  line=$(grep -a "OCTET STRING *\[HEX DUMP\]:$hex\$" signature.txt | sed -n 1p)
  [ -n "$hex" ] && [ -n "$line" ] || return 0
  table=$(od -An -tu4 -j "$entry_field" -N4 "$1" | tr -d ' ')
  # "OFFSET:d=DEPTH hl=HEADER l=LENGTH prim: OCTET STRING ..."; the table's entry has an 8-byte header.
  echo $((table + 8 + ${line%%:*} + $(sed 's/.*hl= *\([0-9]*\).*/\1/' <<<"$line")))
}
# The package checksum word after one byte at OFFSET went from OLD to NEW: it moves by the byte's
# weight in its word. A changed stub is no longer the one whose image checksum the header held, so
# the word is made as from a stub without one (as some linkers leave it), which the checksum of a
# signed package takes as its original. The word itself, the signer's fields (which the checksum
# takes back out) and anything after the package are left alone.
reseal() {  # reseal FILE OFFSET OLD NEW
  local file=$1 at=$2 old=$3 new=$4 end=$unsigned_size word
  if ((at >= end - 4 || (at >= checksum_field && at < checksum_field + 4) ||
    (at >= entry_field && at < entry_field + 8))); then
    return
  fi
  word=$(od -An -tu4 -j $((end - 4)) -N4 "$file" | tr -d ' ')
  word=$(((word + (new - old) * (1 << (8 * (at % 4)))) & 0xFFFFFFFF))
  if ((at < stub)); then
    local linked
    linked=$(od -An -tu4 -j "$checksum_field" -N4 unsigned.exe | tr -d ' ')
    word=$(((word - linked * (1 << (8 * (checksum_field % 4)))) & 0xFFFFFFFF))
  fi
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((word & 255)) $((word >> 8 & 255)) $((word >> 16 & 255)) \
    $((word >> 24)))" | dd of="$file" bs=1 seek=$((end - 4)) conv=notrunc 2>/dev/null
}
offset_of() {  # offset_of REGION FILE
  case $1 in
    stub) echo $((0x50)) ;;
    script) echo $((stub + 13 + 40)) ;;
    payload) echo $((stub + 60000)) ;;
    padding) echo $((unsigned_size + 1)) ;;
    image-checksum) echo $((checksum_field + 1)) ;;
    checksum-word) echo $((unsigned_size - 3)) ;;
    signed-digest) local at; at=$(digest_at "$2" 1); [ -z "$at" ] || echo $((at + 5)) ;;
    # Inside what is signed but outside the digest: the obsolete text of the content's first part.
    signed-content) local at; at=$(digest_at "$2" 1); [ -z "$at" ] || echo $((at - 45)) ;;
    table-end) echo $(($(stat -c %s "$2") - 20)) ;;
    nested-digest) local at; at=$(digest_at "$2" 2); [ -z "$at" ] || echo $((at + 5)) ;;
  esac
}

# Expected verdicts, ours (qorpack verify and /h alike) then osslsigncode verify's (which accepts a
# file when any of its signatures verifies, and does not judge a timestamp's signature): A accepts,
# R refuses, - no such region. Refused for the checksum in the padding and the checksum word, for
# the signature everywhere else.
bases=(signed.exe resigned.exe nested.exe nested-reverse.exe timestamped.exe blob.exe)
matrix=(
  # region       signed resigned nested nested-reverse timestamped blob
  "stub           R/R   R/R      R/R    R/R            R/R         R/R"
  "script         R/R   R/R      R/R    R/R            R/R         R/R"
  "payload        R/R   R/R      R/R    R/R            R/R         R/R"
  "padding        R/R   R/R      R/R    R/R            R/R         R/R"
  "image-checksum A/A   A/A      A/A    A/A            A/A         A/A"
  "checksum-word  R/R   R/R      R/R    R/R            R/R         R/R"
  "signed-digest  R/R   R/R      R/A    R/A            R/R         R/R"
  "signed-content R/R   R/R      R/A    R/A            R/R         R/R"
  "table-end      R/R   R/R      R/A    R/A            A/A         A/A"
  "nested-digest  -     -        R/A    R/A            -           -"
)
verdicts=$(printf '%-15s %-15s %-9s %-8s %-3s %s' region base expected qorpack /h osslsigncode)
for row in "${matrix[@]}"; do
  read -r region cells <<<"$row"
  read -ra cells <<<"$cells"
  for i in "${!bases[@]}"; do
    [ "${cells[$i]}" = - ] && continue
    base=${bases[$i]} expected=${cells[$i]%/*} expected_ossl=${cells[$i]#*/}
    name=changed-$region-${base%.exe}.exe
    at=$(offset_of "$region" "$base")
    [ -n "$at" ] || { fail "$region of $base: not found"; continue; }
    old=$(od -An -tu1 -j "$at" -N1 "$base" | tr -d ' ')
    flip "$base" "$name" "$at"
    reseal "$name" "$at" "$old" $(((old + 1) % 256))
    case $region in padding | checksum-word) why="the package checksum does not match" ;;
      *) why="the signature does not match the package" ;; esac

    ours_qorpack=-
    if [ -n "$qorpack" ]; then
      if "$qorpack" verify "$name" >/dev/null 2>qorpack.err; then ours_qorpack=A; else ours_qorpack=R; fi
      if [ "$ours_qorpack" = R ] && ! grep -qF "error code 2: $why" qorpack.err; then
        fail "$name: qorpack refuses it for another reason: $(cat qorpack.err)"
      fi
    fi
    rm -rf "$target" "$WINEPREFIX/drive_c/signing.log"
    status=$(status_of "$name" /h /log 'C:\signing.log')
    tr -d '\r' <"$WINEPREFIX/drive_c/signing.log" >signing.log 2>/dev/null || true
    case $status in 0) ours_h=A ;; -1) ours_h=R ;; *) ours_h="?$status" ;; esac
    if [ "$ours_h" = R ] && ! grep -qxF "failed: error code 2: $why" signing.log; then
      fail "$name: /h refuses it for another reason: $(grep failed signing.log)"
    fi
    # Refused: nothing started, nothing installed, nothing left in the temporary folder.
    if [ "$ours_h" = R ]; then
      ! grep -q "^command: " signing.log || fail "$name: /h started the finishing command"
      [ ! -e "$target/install.log" ] || fail "$name: /h installed something"
      ! private_left || fail "$name: /h left its extraction folder"
    fi
    ossl=R
    if osslsigncode verify -CAfile cert.pem -TSA-CAfile tsacert.pem -in "$name" >/dev/null 2>&1; then ossl=A; fi
    verdicts+=$'\n'$(printf '%-15s %-15s %-9s %-8s %-3s %s' "$region" "${base%.exe}" "$expected/$expected_ossl" \
      "$ours_qorpack" "$ours_h" "$ossl")

    [ "$ours_h" = "$expected" ] || fail "$name: /h gives $ours_h, expected $expected"
    [ "$ours_qorpack" = - ] || [ "$ours_qorpack" = "$ours_h" ] ||
      fail "$name: qorpack verify gives $ours_qorpack, /h $ours_h"
    [ "$ours_h" != A ] || [ "$ossl" = A ] || fail "$name: accepted, but osslsigncode verify refuses it"
    [ "$ossl" = "$expected_ossl" ] || echo "NOTE: $name: osslsigncode verify gives $ossl, recorded $expected_ossl"
  done
done
echo "$verdicts"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all signing cases passed"
