#!/usr/bin/env bash
# Reproducible packages and the build options of qorpack. Two copies of the same sources whose files
# have different times (both later than SOURCE_DATE_EPOCH, as two checkouts' are), one with a source
# older than it in both, and a missing entry that the build prunes: built with -j 1, -j 4 and one
# thread per core, every package must be the same bytes, each stored time the earlier of the file's
# and SOURCE_DATE_EPOCH. Then --stub, --output and --depfile, and the values of SOURCE_DATE_EPOCH
# that fail a build. Exit 77 (skipped) without the Windows build's stub and example setup program.
# Arguments: QORPACK STUB EXAMPLE_SETUP SCRATCH
set -u
qorpack=$1 stub=$2 setup=$3 scratch=$4
for needed in "$stub" "$setup"; do
  [ -f "$needed" ] || { echo "SKIP: $needed is missing (build the windows preset first)"; exit 77; }
done
rm -rf "$scratch"; mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

epoch=1700000000   # 2023-11-14 22:13:20 UTC
old=$((epoch - 86400 * 365))

# A source folder: the list packs the setup program, a text, a file old enough to keep its time,
# a file above the 8 MiB that goes through a temporary file, and a missing source.
make_copy() {  # make_copy DIR TIME [MISSING_ENTRY]
  local dir=$1 stamp=$2 missing=${3-gone.txt}
  mkdir -p "$dir/src"
  cp "$setup" "$dir/src/setup.exe"
  printf 'readme\r\n' >"$dir/src/readme.txt"
  printf 'old\r\n' >"$dir/src/old.txt"
  head -c $((9 * 1024 * 1024)) "$scratch/noise" >"$dir/src/big.bin"
  cat >"$dir/list.ini" <<EOF_LIST
[Cmd]
LANG=ENU
Title=Reproducible
FileName=setup.exe /q
[Files]
File01=setup.exe, src\setup.exe
File02=readme.txt, src\readme.txt
File03=$missing, src\\$missing
File04=old.txt, src\\old.txt
File05=big.bin, src\\big.bin
[Out]
OutputName=out%s.exe
[In]
QorFileName=stub.exe
EOF_LIST
  cp "$stub" "$dir/stub.exe"
  find "$dir" -exec touch -d "@$stamp" {} +
  touch -d "@$old" "$dir/src/old.txt"
}
head -c $((9 * 1024 * 1024)) /dev/urandom >"$scratch/noise"
make_copy "$scratch/a" $((epoch + 1000))
make_copy "$scratch/b" $((epoch + 5000000))

build() {  # build DIR JOBS [OPTION...]: qorpack build in DIR with SOURCE_DATE_EPOCH; its status
  local dir=$1 jobs=$2
  shift 2
  (cd "$dir" && SOURCE_DATE_EPOCH=$epoch "$qorpack" build -j "$jobs" "$@" list.ini >/dev/null 2>"$dir/err")
}

build "$scratch/a" 1 || fail "copy a does not build with -j 1: $(cat "$scratch/a/err")"
package=$(cd "$scratch/a" && ls out*.exe)
cp "$scratch/a/$package" "$scratch/first.exe"
grep -q "^File03=old.txt" "$scratch/a/list.ini" || fail "the missing source was not pruned from the list"
# thread count | copy: the same bytes as copy a with one thread
for run in "$(nproc)|b" "4|a" "1|b"; do
  IFS='|' read -r jobs copy <<<"$run"
  build "$scratch/$copy" "$jobs" || fail "copy $copy does not build with -j $jobs: $(cat "$scratch/$copy/err")"
  cmp -s "$scratch/first.exe" "$scratch/$copy/$package" || fail "copy $copy with -j $jobs gives other bytes"
done

# The stored times: SOURCE_DATE_EPOCH for the newer files and the pruned list, its own for the older.
mkdir "$scratch/unpacked"
"$qorpack" extract "$scratch/first.exe" "$scratch/unpacked" >/dev/null || fail "the package does not extract"
# piece | stored time
for piece in "SetupQor.ini|$epoch" "setup.exe|$epoch" "readme.txt|$epoch" "old.txt|$old" "big.bin|$epoch"; do
  IFS='|' read -r name want <<<"$piece"
  got=$(stat -c %Y "$scratch/unpacked/$name" 2>/dev/null)
  [ "$got" = "$want" ] || fail "$name is stored with the time $got, not $want"
done

# Without SOURCE_DATE_EPOCH the two copies' times show: the comparison above can tell.
(cd "$scratch/a" && "$qorpack" build list.ini >/dev/null 2>&1 && cp "$package" ../plain-a.exe)
(cd "$scratch/b" && "$qorpack" build list.ini >/dev/null 2>&1 && cp "$package" ../plain-b.exe)
cmp -s "$scratch/plain-a.exe" "$scratch/plain-b.exe" && fail "without SOURCE_DATE_EPOCH the copies give the same bytes"

# Values that fail the build with the reason as the log's last line, and write nothing.
for value in "" "abc" "-1" "1.5" " 17" "253402300800"; do
  rm -f "$scratch/a/$package"
  status=0
  (cd "$scratch/a" && SOURCE_DATE_EPOCH=$value "$qorpack" build list.ini >/dev/null 2>&1) || status=$?
  [ "$status" = 255 ] || fail "SOURCE_DATE_EPOCH='$value': exit status $status, not 255"
  tail -n 1 "$scratch/a/logfile.txt" | grep -qF "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970-01-01 UTC, from 0 to 253402300799, not \"$value\"." ||
    fail "SOURCE_DATE_EPOCH='$value': the log ends with $(tail -n 1 "$scratch/a/logfile.txt")"
  [ -e "$scratch/a/$package" ] && fail "SOURCE_DATE_EPOCH='$value' wrote a package"
done

# --stub and --output: the list names no stub that exists and keeps its own OutputName; the package
# is the same bytes as the one built with the stub the list names, and the list is stored unchanged.
c=$scratch/c
make_copy "$c" $((epoch + 1000)) present.txt   # nothing to prune: the list must stay as written
printf 'present\r\n' >"$c/src/present.txt"
mv "$c/stub.exe" "$scratch/moved-stub.exe"
sed -i 's/^QorFileName=.*/QorFileName=nowhere\\none.exe/' "$c/list.ini"
mkdir "$c/dist"
build "$c" 2 --stub "$scratch/moved-stub.exe" --output dist/pkg.exe --depfile dist/pkg.d ||
  fail "--stub and --output do not build: $(cat "$c/err")"
[ -f "$c/dist/pkg.exe" ] || fail "--output wrote no dist/pkg.exe"
mkdir "$scratch/unpacked-c"
"$qorpack" extract "$c/dist/pkg.exe" "$scratch/unpacked-c" >/dev/null || fail "the --stub package does not extract"
cmp -s "$scratch/unpacked-c/SetupQor.ini" "$c/list.ini" || fail "--stub changed the stored list"
cmp -s -n "$(stat -c %s "$stub")" "$stub" "$c/dist/pkg.exe" || fail "the --stub package does not begin with the stub"
compgen -G "$c/out*.exe" >/dev/null && fail "--output also wrote the list's OutputName"
# The dependency file: the package, then the list, the stub and each source, as absolute paths.
want=$(printf '%s: \\\n  %s \\\n  %s \\\n  %s \\\n  %s \\\n  %s \\\n  %s \\\n  %s\n' "$c/dist/pkg.exe" "$c/list.ini" \
  "$scratch/moved-stub.exe" "$c/src/setup.exe" "$c/src/readme.txt" "$c/src/present.txt" "$c/src/old.txt" \
  "$c/src/big.bin")
[ "$(cat "$c/dist/pkg.d")" = "$want" ] || fail "the dependency file holds: $(cat "$c/dist/pkg.d")"
# option | what the log's last line or the message says
for run in "--stub $c/none.exe|Error reading the Installer file." "--stub $c/src/readme.txt|is no Windows executable" \
           "--stub $scratch/moved-stub.exe --output $scratch/moved-stub.exe|A build never writes over the files it reads"; do
  IFS='|' read -r options text <<<"$run"
  status=0
  # shellcheck disable=SC2086  # the options are split on purpose
  build "$c" 1 $options || status=$?
  [ "$status" = 255 ] || fail "$options: exit status $status, not 255"
  grep -qF -- "$text" "$c/err" || fail "$options: no '$text' in $(cat "$c/err")"
done
cmp -s "$scratch/moved-stub.exe" "$stub" || fail "a build wrote over its --stub"

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "the same sources give the same package for any file times and threads; --stub, --output and --depfile work"
