#!/usr/bin/env bash
# Builds packages with QorEngineUpdate.exe /m under Wine and checks the full 32-bit exit status (via
# runner.exe), the exact build log and the package. With a native qorpack (the fourth argument, from
# the cache variable QOR_NATIVE_QORPACK) every case is built again natively from an identical copy
# of its folder, and the two packages, logs, packing lists and exit statuses must be identical.
# Usage: wine_builder_test.sh SOURCE_DIR BUILD_DIR TEST_BINARY_DIR [NATIVE_QORPACK]
set -euo pipefail
src=$1 build=$2 here=$3 native=${4:-}
work=$here/wine_builder_work
rm -rf "$work"
mkdir -p "$work"
failures=0

if [ -z "$native" ]; then
  echo "NOTE: QOR_NATIVE_QORPACK not given: packages are not compared with the native builder"
elif [ ! -x "$native" ]; then
  echo "NOTE: QOR_NATIVE_QORPACK=$native is no executable: packages are not compared with the native builder"
  native=
fi

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A case folder: the stub, a version file, some sources and a packing list (written by the case).
template() {
  local dir=$1
  mkdir -p "$dir/src" "$dir/out" "$dir/my files"
  cp "$build/QorEngineUpdate.exe" "$dir/QorEngineUpdate.exe"
  cp "$build/tests/wine/runner.exe" "$dir/runner.exe"
  cp "$here/versioned_2140.exe" "$dir/src/core.dll"
  cp "$here/versioned_5230501.exe" "$dir/src/tool.exe"
  printf 'line one\r\nline two\r\n' >"$dir/src/readme.txt"
  : >"$dir/src/empty.dat"
  head -c 70000 /dev/urandom >"$dir/src/noise.bin"
}

list() {  # list DIR OUT_SECTION FILE_ENTRIES...
  local dir=$1 out=$2
  shift 2
  {
    printf '[Cmd]\r\nLANG=ENU\r\nTitle=Wine test\r\nFileName=setup.exe /q\r\n[Files]\r\n'
    local n=1
    for entry in "$@"; do
      printf 'File%02d=%s\r\n' "$n" "$entry"
      n=$((n + 1))
    done
    printf '[Out]\r\n%s[In]\r\nQorFileName=QorEngineUpdate.exe\r\n' "$out"
  } >"$dir/list.ini"
}

# Runs case NAME with argument text ARGS; expects exit status STATUS (0 or -1), log LOG (printf
# format) and, when given, the package PACKAGE.
check() {
  local name=$1 args=$2 status=$3 log=$4 package=${5:-}
  local dir=$work/$name
  # Same times everywhere, to 100 ns, so both builders store the same file times.
  find "$dir" -exec touch -h -d '2020-01-02 03:04:05.1234567 UTC' {} +
  if [ -n "$native" ]; then cp -a "$dir" "$dir.native"; fi

  local output
  output=$(cd "$dir" && bash "$src/tests/wine/wine-run.sh" ./runner.exe QorEngineUpdate.exe $args 2>/dev/null | tr -d '\r')
  local expected_exit="EXITCODE 0 0"
  [ "$status" = -1 ] && expected_exit="EXITCODE 4294967295 -1"
  grep -qx "$expected_exit" <<<"$output" || fail "$name: expected '$expected_exit', runner printed '$output'"
  printf "$log" >"$dir.expected-log"
  cmp -s "$dir.expected-log" "$dir/logfile.txt" || fail "$name: log differs: $(od -c "$dir/logfile.txt" | head -5)"
  if [ -n "$package" ]; then
    [ -f "$dir/$package" ] || fail "$name: no package $package"
  fi

  if [ -n "$native" ]; then
    local native_status=0
    # The argument text's path, without the switch and without quotes, as one argument.
    local path=${args#/m }
    path=${path#\"}
    path=${path%\"}
    (cd "$dir.native" && "$native" build "$path" 2>/dev/null) || native_status=$?
    local expected_native=0
    [ "$status" = -1 ] && expected_native=255
    [ "$native_status" = "$expected_native" ] || fail "$name: native qorpack exited $native_status"
    cmp -s "$dir/logfile.txt" "$dir.native/logfile.txt" || fail "$name: native log differs"
    cmp -s "$dir/list.ini" "$dir.native/list.ini" || fail "$name: native packing list differs"
    if [ -n "$package" ]; then
      cmp "$dir/$package" "$dir.native/$package" || fail "$name: the native package differs"
    fi
  fi
  echo "case $name done"
}

# A full package: text, binaries, an empty file, incompressible data; stamped with 2.1.4.0.
template "$work/full"
list "$work/full" 'OutputName=out\setup%s.exe\r\nVersionFile=core, src\core.dll\r\n' \
  'core.dll, src\core.dll' 'readme.txt,src\README.TXT' 'empty.dat,	src\empty.dat' 'noise.bin,x,src\noise.bin'
check full '/m .\list.ini' 0 '' 'out/setup2_01_04a.exe'

# File01 stamps the name: 5.2.30.501 gives 5_02_30b; the list is given in quotes, with a blank.
template "$work/quoted"
list "$work/quoted/my files" 'OutputName=..\out\s%s.exe\r\n' 'tool.exe,..\src\tool.exe'
check quoted '/m "my files\list.ini"' 0 '' 'out/s5_02_30b.exe'

# Pruning: the second of three entries is missing.
template "$work/prune"
list "$work/prune" 'OutputName=p.exe\r\nVersionFile=c,src\core.dll\r\n' 'a,src\readme.txt' 'b,src\gone.txt' 'c,src\empty.dat'
check prune '/m .\list.ini' 0 'Warning: src\\gone.txt not found, removing from .ini file\r\n' 'p.exe'

# Failures: every source missing; an output name with a format sequence; a stub that already carries
# a package (the full case's package); a missing packing list.
template "$work/none"
list "$work/none" 'OutputName=n.exe\r\nVersionFile=c,src\core.dll\r\n' 'a,src\gone1' 'b,src\gone2'
check none '/m .\list.ini' -1 'Warning: src\\gone1 not found, removing from .ini file\r\nWarning: src\\gone2 not found, removing from .ini file\r\nNo input files. Check the .INF syntax.\r\n'

template "$work/percent"
list "$work/percent" 'OutputName=setup%%d.exe\r\nVersionFile=c,src\core.dll\r\n' 'a,src\readme.txt'
check percent '/m .\list.ini' -1 'Output filename directive may hold one %%s and %%%% only, no other %%. Check the packing list syntax.\r\n'

template "$work/restub"
cp "$work/full/out/setup2_01_04a.exe" "$work/restub/QorEngineUpdate.exe"
list "$work/restub" 'OutputName=r.exe\r\nVersionFile=c,src\core.dll\r\n' 'a,src\readme.txt'
check restub '/m .\list.ini' -1 'The Installer file holds the segment marker more than once: it already carries a package.\r\n'

template "$work/nolist"
check nolist '/m .\absent.ini' -1 'Unable to find setupqor.ini file as given on cmd line.\r\n'

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all cases passed"
