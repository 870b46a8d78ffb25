#!/usr/bin/env bash
# Builds packages with QorEngineUpdate.exe /m under Wine and checks the full 32-bit exit status (via
# runner.exe), the exact build log and the package, then runs the hostile packing lists of
# hostile_lists.txt. With a native qorpack (the fourth argument, from
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

list() {  # list DIR OUT_LINE... -- FILE_ENTRY...   (each given line gets CR LF)
  local dir=$1
  shift
  local out=()
  while [ "$1" != -- ]; do
    out+=("$1")
    shift
  done
  shift
  {
    # The finishing command runs the first entry's file, which a script must carry.
    printf '[Cmd]\r\nLANG=ENU\r\nTitle=Wine test\r\nFileName=%s /q\r\n[Files]\r\n' "${1%%,*}"
    local n=1
    for entry in "$@"; do
      printf 'File%02d=%s\r\n' "$n" "$entry"
      n=$((n + 1))
    done
    printf '[Out]\r\n'
    printf '%s\r\n' "${out[@]}"
    printf '[In]\r\nQorFileName=QorEngineUpdate.exe\r\n'
  } >"$dir/list.ini"
}

# `native_agrees LABEL DIR ARG STATUS LOG LIST`: builds DIR.native, the untouched copy of the case
# folder DIR, with the native qorpack and the argument ARG that the Windows builder was given. Its
# exit status must be what STATUS (0 or -1) is natively, and its build log LOG and packing list LIST
# (where either run has one) the same bytes as the Windows builder's in DIR; a difference fails LABEL.
# With NATIVE_LOG, a file, the native log must hold that instead: the system's reasons differ; with
# "-", the native build writes no log (qorpack refuses a missing list before a build starts).
native_agrees() {
  local label=$1 dir=$2 arg=$3 status=$4 log=$5 list=$6 native_log=${7:-$2/$5}
  local native_status=0
  (cd "$dir.native" && "$native" build "$arg" 2>/dev/null) || native_status=$?
  local expected_native=0
  [ "$status" = -1 ] && expected_native=255
  [ "$native_status" = "$expected_native" ] || fail "$label: native qorpack exited $native_status"
  if [ "$native_log" = - ]; then
    [ ! -e "$dir.native/$log" ] || fail "$label: the native build wrote a log"
  else
    cmp -s "$native_log" "$dir.native/$log" || fail "$label: native log differs"
  fi
  if [ -f "$dir/$list" ] || [ -f "$dir.native/$list" ]; then
    cmp -s "$dir/$list" "$dir.native/$list" || fail "$label: native packing list differs"
  fi
}

# Runs case NAME: `check NAME STATUS LOG PACKAGE LIST_PATH` runs "/m LIST_PATH" and expects exit
# status STATUS (0 or -1), the log LOG (a printf format) and, unless empty, the package PACKAGE. A
# LIST_PATH with blanks reaches the program in double quotes, as Wine quotes such an argument.
check() {
  local name=$1 status=$2 log=$3 package=$4 path=$5
  local dir=$work/$name
  # Same times everywhere, to 100 ns, so both builders store the same file times.
  find "$dir" -exec touch -h -d '2020-01-02 03:04:05.1234567 UTC' {} +
  if [ -n "$native" ]; then cp -a "$dir" "$dir.native"; fi

  local output
  # Into a file, not a pipe: a wineserver started here would hold a pipe open after the run.
  (cd "$dir" && bash "$src/tests/wine/wine-run.sh" ./runner.exe QorEngineUpdate.exe /m "$path" \
    >"$dir.runner-out" 2>/dev/null) || true
  output=$(tr -d '\r' <"$dir.runner-out")
  local expected_exit="EXITCODE 0 0"
  [ "$status" = -1 ] && expected_exit="EXITCODE 4294967295 -1"
  grep -qx "$expected_exit" <<<"$output" || fail "$name: expected '$expected_exit', runner printed '$output'"
  printf "$log" >"$dir.expected-log"
  cmp -s "$dir.expected-log" "$dir/logfile.txt" || fail "$name: log differs: $(od -c "$dir/logfile.txt" | head -5)"
  if [ -n "$package" ]; then
    [ -f "$dir/$package" ] || fail "$name: no package $package"
  fi

  if [ -n "$native" ]; then
    local native_log=
    [ "$name" = nolist ] && native_log=-
    native_agrees "$name" "$dir" "$path" "$status" logfile.txt list.ini $native_log
    if [ -n "$package" ] && grep -q Warning "$dir/logfile.txt"; then
      # Pruning rewrote the packing list in each run, so its stored time differs (8 bytes) and with
      # it the checksum (4 bytes); every other byte must be the same.
      local differing
      differing=$( (cmp -l "$dir/$package" "$dir.native/$package" 2>&1 || true) | wc -l)
      [ "$(stat -c %s "$dir/$package")" = "$(stat -c %s "$dir.native/$package")" ] && [ "$differing" -le 12 ] ||
        fail "$name: the native package differs in $differing bytes"
    elif [ -n "$package" ]; then
      cmp "$dir/$package" "$dir.native/$package" || fail "$name: the native package differs"
    fi
  fi
  echo "case $name done"
}

# A full package: text, binaries, an empty file, incompressible data; stamped with 2.1.4.0.
template "$work/full"
list "$work/full" 'OutputName=out\setup%s.exe' 'VersionFile=core, src\core.dll' -- \
  'core.exe, src\core.dll' 'readme.txt,src\README.TXT' 'empty.dat,	src\empty.dat' 'noise.bin,x,src\noise.bin'
check full 0 '' 'out/setup2_01_04a.exe' '.\list.ini'

# File01 stamps the name: 5.2.30.501 gives 5_02_30b; the list's path has a blank.
template "$work/quoted"
list "$work/quoted/my files" 'OutputName=out\s%s.exe' -- 'tool.exe,src\tool.exe'
check quoted 0 '' 'out/s5_02_30b.exe' 'my files\list.ini'

# Pruning: the second of three entries is missing.
template "$work/prune"
list "$work/prune" 'OutputName=p.exe' 'VersionFile=c,src\core.dll' -- 'c.exe,src\core.dll' 'a,src\readme.txt' 'b,src\gone.txt' 'e,src\empty.dat'
check prune 0 'Warning: src\\gone.txt not found, removing from .ini file\r\n' 'p.exe' '.\list.ini'

# Failures: every source missing; an output name with a format sequence; a stub that already carries
# a package (the full case's package); a missing packing list.
template "$work/none"
list "$work/none" 'OutputName=n.exe' 'VersionFile=c,src\core.dll' -- 'a.exe,src\gone1' 'b,src\gone2'
check none -1 'Warning: src\\gone1 not found, removing from .ini file\r\nWarning: src\\gone2 not found, removing from .ini file\r\nNo input files. Check the .INF syntax.\r\n' '' '.\list.ini'

template "$work/percent"
list "$work/percent" 'OutputName=setup%d.exe' 'VersionFile=c,src\core.dll' -- 'a.exe,src\readme.txt'
check percent -1 'Output filename directive may hold one %%s and %%%% only, no other %%. Check the packing list syntax.\r\n' '' '.\list.ini'

template "$work/restub"
cp "$work/full/out/setup2_01_04a.exe" "$work/restub/QorEngineUpdate.exe"
list "$work/restub" 'OutputName=r.exe' 'VersionFile=c,src\core.dll' -- 'c.exe,src\core.dll' 'a,src\readme.txt'
check restub -1 'The Installer file holds the segment marker more than once: it already carries a package.\r\n' '' '.\list.ini'

template "$work/nolist"
check nolist -1 'Unable to find setupqor.ini file as given on cmd line.\r\n' '' '.\absent.ini'

# The hostile packing lists of hostile_lists.txt, the table that the native tests build too: each
# case's exit status and log, every file that was there before unchanged (a previous package too),
# nothing left behind; and the native qorpack must agree on status, log and packing list.
hostile_file=$src/tests/builder/hostile_lists.txt
declare -A given
hostile_reset() {
  h_name= h_native=0 h_list=list.ini h_arg= h_status=0 h_log= h_log_native= h_refused=0
  h_actions=() h_changed=()
  given=()
}
hostile_list() {  # the packing list, each section's given lines in place of its default
  local -A defaults=(
    [cmd]=$'LANG=ENU\nTitle=Hostile\nFileName=a.exe /q'
    [files]=$'File01=a.exe, src\\a.dll\nFile02=b.txt, src\\b.txt'
    [out]=$'OutputName=out.exe\nVersionFile=v, ver.exe'
    [in]='QorFileName=stub.exe')
  local -A titles=([cmd]=Cmd [files]=Files [out]=Out [in]=In)
  local section lines
  for section in cmd files out in; do
    lines=${given[$section]-${defaults[$section]}}
    [ "$lines" = - ] && continue
    printf '[%s]\r\n' "${titles[$section]}"
    while IFS= read -r line; do printf '%s\r\n' "$line"; done <<<"$lines"
  done
}
snapshot() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum); }
hostile_run() {
  [ -n "$h_name" ] || return 0
  [ "$h_native" = 1 ] && return 0
  local dir=$work/hostile-$h_name
  mkdir -p "$dir/src"
  cp "$build/QorEngineUpdate.exe" "$dir/QorEngineUpdate.exe"
  cp "$build/QorEngineUpdate.exe" "$dir/stub.exe"
  cp "$build/tests/wine/runner.exe" "$dir/runner.exe"
  cp "$here/versioned_2140.exe" "$dir/ver.exe"
  cp "$here/versioned_5230501.exe" "$dir/src/a.dll"
  printf 'a text file\r\n' >"$dir/src/b.txt"
  printf 'a previous package\r\n' >"$dir/out.exe"
  hostile_list >"$dir/$h_list"
  local action
  for action in "${h_actions[@]}"; do
    set -- $action
    case $1 in
      text) local rest=${action#text }; printf '%s' "${rest#* }" >"$dir/${rest%% *}" ;;
      dir) mkdir -p "$dir/$2" ;;
      copy) cp "$dir/$2" "$dir/$3" ;;
      link) ln "$dir/$2" "$dir/$3" ;;
      readonly) chmod a-w "$dir/$2" ;;
    esac
  done
  find "$dir" -exec touch -h -d '2020-01-02 03:04:05.1234567 UTC' {} +
  if [ -n "$native" ]; then cp -a "$dir" "$dir.native"; fi
  snapshot "$dir" >"$dir.before"
  local arg=${h_arg:-.\\$h_list}
  (cd "$dir" && bash "$src/tests/wine/wine-run.sh" ./runner.exe QorEngineUpdate.exe /m "$arg" \
    >"$dir.runner-out" 2>/dev/null) || true
  local expected_exit="EXITCODE 0 0"
  [ "$h_status" = -1 ] && expected_exit="EXITCODE 4294967295 -1"
  grep -qx "$expected_exit" < <(tr -d '\r' <"$dir.runner-out") ||
    fail "hostile $h_name: expected '$expected_exit', runner printed '$(tr -d '\r' <"$dir.runner-out")'"
  local log=logfile.txt
  [ "$h_refused" = 1 ] && log=logfile.refused.txt
  printf '%s' "$h_log" >"$dir.expected-log"
  cmp -s "$dir.expected-log" "$dir/$log" || fail "hostile $h_name: $log differs: $(od -c "$dir/$log" 2>&1 | head -3)"
  # Unchanged: everything but the log and what the case lets change; new: nothing but the log.
  local may="^\./($log"
  local changed
  for changed in "${h_changed[@]}"; do may+="|${changed//./\\.}"; done
  may+=')$'
  snapshot "$dir" >"$dir.after"
  local -A before=() after=()
  local hash path
  while read -r hash path; do before[$path]=$hash; done <"$dir.before"
  while read -r hash path; do after[$path]=$hash; done <"$dir.after"
  for path in "${!before[@]}"; do
    grep -Eq "$may" <<<"$path" && continue
    [ "${after[$path]-}" = "${before[$path]}" ] || fail "hostile $h_name: $path changed or vanished"
  done
  for path in "${!after[@]}"; do
    grep -Eq "$may" <<<"$path" && continue
    [ -n "${before[$path]+set}" ] || fail "hostile $h_name: $path was left behind"
  done
  if [ -n "$native" ]; then
    printf '%s' "$h_log_native" >"$dir.expected-native-log"
    native_agrees "hostile $h_name" "$dir" "$arg" "$h_status" "$log" "$h_list" "$dir.expected-native-log"
    if [ "$h_status" = 0 ] && ! grep -q Warning "$dir/$log"; then
      cmp -s "$dir/out.exe" "$dir.native/out.exe" || fail "hostile $h_name: the native package differs"
    fi
  fi
  echo "hostile case $h_name done"
}
hostile_reset
while IFS= read -r line || [ -n "$line" ]; do
  case $line in '' | '#'*) continue ;; esac
  kind=${line%% *}
  rest=
  [ "$kind" != "$line" ] && rest=${line#* }
  case $kind in
    case) hostile_run; hostile_reset; h_name=$rest ;;
    native) h_native=1 ;;
    cmd | files | out | in)
      if [ -n "${given[$kind]+set}" ]; then given[$kind]+=$'\n'$rest; else given[$kind]=$rest; fi ;;
    list) h_list=$rest ;;
    arg) h_arg=$rest ;;
    status) h_status=$rest ;;
    log) h_log+="$rest"$'\r\n'; h_log_native+="$rest"$'\r\n' ;;
    log-win32) h_log+="$rest"$'\r\n' ;;
    log-posix) h_log_native+="$rest"$'\r\n' ;;
    refused-log)
      h_refused=1
      [ -n "$rest" ] && h_log+="$rest"$'\r\n' && h_log_native+="$rest"$'\r\n' ;;
    changed) h_changed+=("$rest") ;;
    text | dir | copy | link | fifo | symlink | readonly) h_actions+=("$line") ;;
    *) fail "hostile_lists.txt: unknown line: $line" ;;
  esac
done <"$hostile_file"
hostile_run

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all cases passed"
