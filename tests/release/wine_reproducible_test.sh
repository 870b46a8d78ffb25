#!/usr/bin/env bash
# QorEngineUpdate.exe /m under Wine and the native qorpack, each on its own copy of the same sources
# whose files have other times, with SOURCE_DATE_EPOCH set: the same package, byte for byte, with
# one thread and with one per core, and the same refusal of a malformed value.
# Usage: wine_reproducible_test.sh SOURCE_DIR BUILD_DIR SCRATCH NATIVE_QORPACK
set -u
src=$1 build=$2 scratch=$3 qorpack=${4:-}
[ -n "$qorpack" ] && [ -x "$qorpack" ] || { echo "SKIP: no native qorpack (QOR_NATIVE_QORPACK)"; exit 77; }
rm -rf "$scratch"; mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

epoch=1700000000
make_copy() {  # make_copy DIR TIME
  local dir=$1
  mkdir -p "$dir/src"
  cp "$build/QorEngineUpdate.exe" "$build/tests/wine/runner.exe" "$dir/"
  cp "$build/examples/example_setup.exe" "$dir/src/setup.exe"
  cp "$src/examples/readme.txt" "$src/examples/license.txt" "$dir/src/"
  cp "$scratch/noise" "$dir/src/big.bin"
  printf '[Cmd]\r\nLANG=ENU\r\nTitle=Reproducible\r\nFileName=setup.exe /q\r\n[Files]\r\n' >"$dir/list.ini"
  printf 'File01=setup.exe, src\\setup.exe\r\nFile02=readme.txt, src\\readme.txt\r\n' >>"$dir/list.ini"
  printf 'File03=gone.txt, src\\gone.txt\r\nFile04=big.bin, src\\big.bin\r\nFile05=license.txt, src\\license.txt\r\n' >>"$dir/list.ini"
  printf '[Out]\r\nOutputName=out%%s.exe\r\n[In]\r\nQorFileName=QorEngineUpdate.exe\r\n' >>"$dir/list.ini"
  find "$dir" -exec touch -d "@$2" {} +
}
head -c $((9 * 1024 * 1024)) /dev/urandom >"$scratch/noise"
make_copy "$scratch/wine" $((epoch + 100))
make_copy "$scratch/native" $((epoch + 9000000))
cp -a "$scratch/native" "$scratch/native-1"

# Under Wine, through runner.exe for the whole exit status; SOURCE_DATE_EPOCH comes from the Unix
# environment, as Wine passes it on.
wine_build() {  # wine_build DIR VALUE: prints the builder's signed exit status
  (cd "$1" && SOURCE_DATE_EPOCH=$2 bash "$src/tests/wine/wine-run.sh" runner.exe QorEngineUpdate.exe /m '.\list.ini' \
    2>/dev/null | tr -d '\r' | sed -n 's/^EXITCODE [0-9]* //p')
}
status=$(wine_build "$scratch/wine" "$epoch")
[ "$status" = 0 ] || fail "/m under Wine ended with '$status': $(cat "$scratch/wine/logfile.txt" 2>/dev/null)"
package=$(cd "$scratch/wine" && ls out*.exe 2>/dev/null)
[ -n "$package" ] || { echo "FAIL: /m wrote no package"; exit 1; }
(cd "$scratch/native" && SOURCE_DATE_EPOCH=$epoch "$qorpack" build list.ini 2>/dev/null) || fail "qorpack does not build"
(cd "$scratch/native-1" && SOURCE_DATE_EPOCH=$epoch "$qorpack" build -j 1 list.ini 2>/dev/null) ||
  fail "qorpack -j 1 does not build"
cmp -s "$scratch/wine/$package" "$scratch/native/$package" || fail "/m under Wine and qorpack give other bytes"
cmp -s "$scratch/wine/$package" "$scratch/native-1/$package" || fail "/m under Wine and qorpack -j 1 give other bytes"
cmp -s "$scratch/wine/list.ini" "$scratch/native/list.ini" || fail "the pruned lists differ"

# A malformed value: -1, the same log as qorpack's, and no package.
for dir in wine native; do rm -f "$scratch/$dir/$package"; done
status=$(wine_build "$scratch/wine" 12x)
[ "$status" = -1 ] || fail "/m with SOURCE_DATE_EPOCH=12x ended with '$status'"
(cd "$scratch/native" && SOURCE_DATE_EPOCH=12x "$qorpack" build list.ini 2>/dev/null)
[ $? = 255 ] || fail "qorpack with SOURCE_DATE_EPOCH=12x did not end with 255"
grep -qF 'not "12x".' "$scratch/wine/logfile.txt" || fail "the Wine log says: $(cat "$scratch/wine/logfile.txt")"
cmp -s "$scratch/wine/logfile.txt" "$scratch/native/logfile.txt" || fail "the two builders' logs differ"
[ -e "$scratch/wine/$package" ] && fail "/m with SOURCE_DATE_EPOCH=12x wrote a package"

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "/m under Wine and qorpack build the same package from copies with other file times"
