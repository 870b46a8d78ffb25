#!/usr/bin/env bash
# Scenarios of the installer page under Wine: builds small packages with the real executable (/m),
# starts them without a switch, and drives the page with driver.exe (texts, states, progress,
# buttons, keys, message boxes, full exit status); then checks what stayed in the temporary folder.
# Usage (from inside the build folder):
#   page.sh GROUP QorEngineUpdate.exe driver.exe page_finisher.exe
# GROUP: install | closing | failure | restart | unicode | shots (shots: Ready and Finished pictures
# as PNG)
set -euo pipefail
group=$1
exe=$2
driver=$3
finisher=$4
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../wine/wine-run.sh"

work=$PWD/page-$group
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cp "$exe" QorEngineUpdate.exe
cp "$finisher" page_finisher.exe

failures=0
fail() {
  echo "FAIL [$scenario]: $*" >&2
  failures=$((failures + 1))
}

# The Windows name of a Linux path: Wine's drive Z: is the root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The packing list of one scenario: LANG names a section of its own, so a page that read its texts
# from ENU would show the wrong ones; ENU holds only error texts, for the scenario without LANG.
# Usage: write_list COMMAND_ARGS [sed expressions applied to the list]
write_list() {
  local command=$1
  shift
  cat >list.ini <<EOF
[Cmd]
LANG=TST
Title=Page Test
FileName=page_finisher.exe $command

[Files]
File01=page_finisher.exe, page_finisher.exe
File02=notes.txt, notes.txt

[Out]
OutputName=package.exe

[In]
QorFileName=QorEngineUpdate.exe

[TST]
Msg02=Welcome to
Msg03=Unpacking files...
Msg04=Running the setup program...
Msg05=Installed. Press Finish to close.
Msg06=Press Next to install Page Test.
Msg07=< Back
Msg08=Finish
Msg09=Next >
Msg10=Cancel
Msg11=This wizard installs Page Test.
Msg12=Restart the computer now?
Msg13=Updated. Press Finish to close.
Msg14=This wizard updates Page Test.
Err04=TST: the setup script is incomplete.
Err07=TST: the setup program failed.

[ENU]
Err04=ENU: the setup script is incomplete.
Err07=ENU: the setup program failed.
EOF
  local expression
  for expression in "$@"; do sed -i "$expression" list.ini; done
  printf 'Notes of the page test.\r\n%.0s' $(seq 40) >notes.txt
}

# Builds package.exe from list.ini with the executable's own /m.
build_package() {
  rm -f package.exe logfile.txt
  if ! bash "$wine_run" QorEngineUpdate.exe /m '.\list.ini' >/dev/null 2>&1 || [ ! -f package.exe ]; then
    fail "the package was not built: $(cat logfile.txt 2>/dev/null)"
    return 1
  fi
}

# The package that drive starts.
package=$work/package.exe

# Runs one driver script (standard input) against $package (with ARGUMENTS) and a temporary folder of
# the scenario's own, so that scenarios and other tests of the prefix never share SetupQor.ini.
# Usage: drive NAME [ARGUMENTS] <<'EOF' ... EOF
drive() {
  scenario=$1
  temp="$work/temp-$scenario"
  rm -rf "$temp" page-finisher.ran
  mkdir -p "$temp"
  # The driver opens its script by an ASCII name.
  local script
  script=$(LC_ALL=C tr -c 'A-Za-z0-9-' _ <<<"$scenario")
  {
    echo "env TMP=$(winpath "$temp")\\"
    echo "env TEMP=$(winpath "$temp")\\"
    echo "start \"$(winpath "$package")\"${2:+ $2}"
    cat
  } >"$script.txt"
  # Into a file, not a pipe: a Wine service started by this run may keep a pipe open long after.
  if ! bash "$wine_run" "$driver" "$script.txt" >"$script.log" 2>&1; then
    fail "driver: $(tr -d '\r' <"$script.log")"
    return 1
  fi
  echo "ok [$scenario]"
}

# What the scenario left in its temporary folder, as a sorted list of names.
# The installer's private folder ("Qor" and 16 hex digits) shows as <private>.
left_behind() {
  (cd "$temp" && find . -mindepth 1 | sed -E 's|^\./||; s|^Qor[0-9A-F]{16}|<private>|' | LC_ALL=C sort | tr '\n' ' ')
}
expect_left() {
  local seen
  seen=$(left_behind)
  [ "$seen" = "$1" ] || fail "temporary folder holds '$seen', expected '$1'"
}
expect_ran() {
  local seen
  seen=$( [ -f page-finisher.ran ] && tr -d "\r" <page-finisher.ran || true)
  [ "$seen" = "$1" ] || fail "finishing command runs: '$seen', expected '$1'"
}

# The engine library whose presence turns the page into an upgrade, in the prefix's system folder.
# The prefix belongs to the whole build folder: the file is removed again whatever happens.
qor_dll() {
  local build=$PWD
  while [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
  (source "$here/../wine/env.sh" "$build" && echo "$WINEPREFIX/drive_c/windows/system32/qor.dll")
}
trap 'rm -f "$(qor_dll)"' EXIT

# The page's background along one pixel column that crosses the text area right of the picture (the
# statics included, beyond their texts): white for exactly the picture's 314 pixel rows, one dark
# line, then the button face. Catches a band placed in dialog units, statics painted in the button
# face colour, and a missing line.
check_background() {
  local bmp=$1 x=$2 runs
  command -v convert >/dev/null && [ -f "$bmp" ] || return 0
  runs=$(convert "$bmp" -crop "1x100000+$x+0" +repage txt:- |
    awk 'NR > 1 { c = $3; if (c == prev) n++; else { if (prev != "") print prev, n; prev = c; n = 1 } }
         END { print prev, n }')
  local white
  white=$(awk '$1 == "#FFFFFF" && $2 > max { max = $2 } END { print max + 0 }' <<<"$runs")
  [ "$white" = 314 ] || fail "$bmp: the white area is $white pixels high, not 314"
  local after
  after=$(awk -v w="$white" 'found { print; n++; if (n == 2) exit } $1 == "#FFFFFF" && $2 == w { found = 1 }' <<<"$runs" | tr '\n' ' ')
  [[ "$after" =~ ^\#000000\ 1\ \#([0-9A-F]{6})\  ]] && [ "${BASH_REMATCH[1]}" != FFFFFF ] ||
    fail "$bmp: below the white area: '$after', expected a one-pixel black line, then the button face"
}

to_png() {
  local bmp
  for bmp in "$@"; do
    if command -v convert >/dev/null && [ -f "$bmp" ]; then convert "$bmp" "${bmp%.bmp}.png"; fi
  done
}

case "$group" in
  install)
    # First install: every text in its place, Ready -> Installing -> Finished, Enter closes.
    write_list "0 0"
    build_package
    rm -f "$(qor_dll)"
    drive first-install <<'EOF' || true
dialog
centred
caption Page Test
text 1012 Welcome to Page Test
text 1005 This wizard installs Page Test.
text 1007 Press Next to install Page Test.
text 1 Next >
text 2 Cancel
text 3 < Back
enabled 1 1
enabled 2 1
enabled 3 0
visible 2 1
visible 1002 0
visible 1014 1
shot ready.bmp
click 1
text 1007 Installed. Press Finish to close.
text 1 Finish
enabled 1 1
enabled 2 0
enabled 3 0
visible 1002 1
pos 1002 100
text 1005 This wizard installs Page Test.
shot finished.bmp
press 13
exit 0
EOF
    expect_left ""
    expect_ran "0 0"
    check_background ready.bmp 455
    to_png ready.bmp finished.bmp

    # Upgrade, with a slow finishing command: the page answers while the command runs (the
    # progress position is read by the page's own thread), ignores close requests and keys then,
    # and still tells an upgrade at the end.
    write_list "3000 0"
    build_package
    : >"$(qor_dll)"
    drive upgrade-slow <<'EOF' || true
dialog
text 1005 This wizard updates Page Test.
text 1007 Press Next to install Page Test.
click 1
text 1007 Running the setup program...
enabled 1 0
enabled 2 0
pos 1002 50
key 2
press 27
key 1
shot installing.bmp
pos 1002 50
text 1007 Updated. Press Finish to close.
text 1 Finish
pos 1002 100
enabled 2 0
noexit 500
text 1005 This wizard updates Page Test.
key 1
exit 0
EOF
    rm -f "$(qor_dll)"
    expect_left ""
    expect_ran "3000 0"
    to_png installing.bmp
    ;;

  closing)
    # Cancel in Ready: exit -1, nothing shown, nothing installed, nothing left but the record of a
    # failed install, which tells of the cancel.
    write_list "0 0"
    build_package
    drive cancel-ready <<'EOF' || true
dialog
text 1 Next >
click 2
exit -1
EOF
    expect_left "QorEngineUpdate.log "
    expect_ran ""
    grep -q $'\terror code 6: the install was cancelled\r$' "$temp/QorEngineUpdate.log" ||
      fail "the record does not tell of the cancel: $(cat "$temp/QorEngineUpdate.log")"

    # Esc in Ready is the same close request.
    drive escape-ready <<'EOF' || true
dialog
text 1 Next >
press 27
exit -1
EOF
    expect_left "QorEngineUpdate.log "

    # Esc and the close box on the Finished page end it as Finish does: exit 0, files cleaned up.
    drive escape-finished <<'EOF' || true
dialog
click 1
text 1 Finish
press 27
exit 0
EOF
    expect_left ""
    expect_ran "0 0"
    drive close-box-finished <<'EOF' || true
dialog
click 1
text 1 Finish
close
exit 0
EOF
    expect_left ""

    # Msg09 equal to Msg08: the page goes by its own state, not by the label. The first press
    # installs, the second closes the finished page.
    write_list "0 0" 's/^Msg09=.*/Msg09=Finish/'
    build_package
    drive next-is-finish <<'EOF' || true
dialog
text 1 Finish
click 1
text 1007 Installed. Press Finish to close.
text 1 Finish
click 1
exit 0
EOF
    expect_left ""
    expect_ran "0 0"

    # No Title: the caption is "@" and the header ends in " @".
    write_list "0 0" '/^Title=/d'
    build_package
    drive no-title <<'EOF' || true
dialog
caption @
text 1012 Welcome to @
click 2
exit -1
EOF

    # Prefix and title of 259 characters each: the header shows both whole, 519 characters.
    long_prefix=$(printf 'P%.0s' $(seq 259))
    long_title=$(printf 'T%.0s' $(seq 259))
    write_list "0 0" "s/^Msg02=.*/Msg02=$long_prefix/" "s/^Title=.*/Title=$long_title/"
    build_package
    drive long-header <<EOF || true
dialog
caption $long_title
text 1012 $long_prefix $long_title
click 2
exit -1
EOF

    # No LANG: the page would have no texts, so the shared check refuses the script and the builder
    # writes no package (the installer's own refusal, code 4, is in the verdict table).
    scenario=no-lang
    write_list "0 0" '/^LANG=/d'
    rm -f package.exe logfile.txt
    bash "$wine_run" QorEngineUpdate.exe /m '.\list.ini' >/dev/null 2>&1 || true
    [ ! -f package.exe ] && grep -q 'the script has no LANG' logfile.txt ||
      fail "a list without LANG was built: $(cat logfile.txt 2>/dev/null)"
    ;;

  failure)
    # The finishing command fails: the Err07 box of the script's language over the open page,
    # exit -1, and every extracted file goes.
    # With /log FILE the page's record goes there, step by step, as a silent install's does.
    write_list "0 1"
    build_package
    drive status-1 "/log $(winpath "$work/status-1.log")" <<'EOF' || true
dialog
click 1
msgbox TST: the setup program failed.\n\nthe finishing command ended with status 1
boxcaption Page Test
buttons OK
text 1007 Running the setup program...
pos 1002 50
enabled 1 0
enabled 2 0
answer 1
exit -1
EOF
    expect_left ""
    expect_ran "0 1"
    grep -q $'^failed: error code 7: the finishing command ended with status 1\r$' "$work/status-1.log" &&
      grep -q $'^exit status: -1\r$' "$work/status-1.log" || fail "the /log record: $(cat "$work/status-1.log")"

    # A signed package whose payload was changed after signing, its checksum word made to match
    # again (a payload byte's weight added): refused for its signature with code 2 before the page,
    # before the script is unpacked (hence the box without it), with nothing written.
    if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
      write_list "0 0"
      build_package
      openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Page test" \
        >/dev/null 2>&1
      rm -f signed.exe
      osslsigncode sign -certs cert.pem -key key.pem -in package.exe -out signed.exe >/dev/null
      size=$(stat -c %s package.exe)
      at=$((size - 100))
      old=$(od -An -tu1 -j "$at" -N1 signed.exe | tr -d ' ')
      word=$(od -An -tu4 -j $((size - 4)) -N4 signed.exe | tr -d ' ')
      word=$(((word + ((old ^ 1) - old) * (1 << (8 * (at % 4)))) & 0xFFFFFFFF))
      printf "$(printf '\\%03o' $((old ^ 1)))" | dd of=signed.exe bs=1 seek="$at" conv=notrunc 2>/dev/null
      printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((word & 255)) $((word >> 8 & 255)) $((word >> 16 & 255)) \
        $((word >> 24)))" | dd of=signed.exe bs=1 seek=$((size - 4)) conv=notrunc 2>/dev/null
      mv signed.exe package.exe
      drive signature-mismatch <<'EOF' || true
msgbox Unable to find SetupQor.ini file.  Exiting.\n\nthe signature does not match the package
boxcaption Error Code: 2 (SetupQor.ini)\n
buttons OK
answer 1
exit -1
EOF
      expect_left "QorEngineUpdate.log "
      expect_ran ""
    fi
    ;;

  restart)
    # 3010: the page finishes normally; the question comes after it closes. No: the files stay.
    write_list "0 3010"
    build_package
    drive restart-no <<'EOF' || true
dialog
click 1
text 1007 Installed. Press Finish to close.
text 1 Finish
pos 1002 100
click 1
msgbox Restart the computer now?
boxcaption Page Test
buttons &Yes|&No
answer 7
exit 3010
EOF
    expect_left "<private> <private>/SetupQor.ini <private>/notes.txt <private>/page_finisher.exe "

    # Without a Title the page shows "@", but the restart question has a caption of its own.
    write_list "0 3010" '/^Title=/d'
    build_package
    drive restart-no-title <<'EOF' || true
dialog
caption @
click 1
text 1 Finish
click 1
msgbox Restart the computer now?
boxcaption <No title>
answer 7
exit 3010
EOF

    # 1641: the finishing command has started the restart itself. The page finishes, asks nothing
    # more, cleans up and ends with 1641.
    write_list "0 1641"
    build_package
    drive restart-started <<'EOF' || true
dialog
click 1
text 1007 Installed. Press Finish to close.
text 1 Finish
click 1
exit 1641
EOF
    expect_left ""
    expect_ran "0 1641"

    # Yes: clean-up and the restart request, still 3010. Under Wine the request ends only the
    # windowed programs of this prefix (this test runs alone for that reason, and last in its
    # group); nothing restarts. The end of the session takes a moment to reach every program: the
    # pause keeps the next test's programs out of it.
    write_list "0 3010"
    build_package
    drive restart-yes <<'EOF' || true
dialog
click 1
text 1 Finish
press 13
msgbox Restart the computer now?
answer 6
exit 3010
EOF
    expect_left ""
    sleep 1
    ;;

  shots)
    # The pictures for the documentation: the example product's texts on the page.
    write_list "1500 0" 's/Page Test/Qor Example Product/g' \
      's/^Msg11=.*/Msg11=This wizard installs Qor Example Product on your computer./' \
      's/^Msg05=.*/Msg05=Qor Example Product is installed. Press Finish to close this window./' \
      's/^Msg06=.*/Msg06=Press Next to install Qor Example Product./' \
      's/^Msg04=.*/Msg04=Installing Qor Example Product.../'
    build_package
    rm -f "$(qor_dll)"
    drive shots <<'EOF' || true
dialog
text 1 Next >
shot ready.bmp
click 1
text 1 Finish
shot finished.bmp
click 1
exit 0
EOF
    to_png ready.bmp finished.bmp
    ;;

  unicode)
    # Folders whose names the ANSI code page cannot spell: the package's (where it is built with /m
    # and started from) and the temporary ones. A payload name with an ANSI character checks the
    # conversion of the script's names.
    folder="$work/Пакет 包"
    mkdir -p "$folder"
    cp QorEngineUpdate.exe page_finisher.exe "$folder/"
    (cd "$folder" && write_list "0 0" 's/notes\.txt/not\xe9s.txt/g' && mv notes.txt notés.txt)
    scenario=build
    (cd "$folder" && bash "$wine_run" QorEngineUpdate.exe /m "$(winpath "$folder")\\list.ini" >/dev/null 2>&1) ||
      fail "/m failed: $(cat "$folder/logfile.txt" 2>/dev/null)"
    [ -f "$folder/package.exe" ] && echo "ok [build]" || fail "no package.exe in $folder"
    package=$folder/package.exe

    drive "silent-Жtemp-漢字" /h <<'EOF' || true
exit 0
EOF
    expect_left ""
    expect_ran "0 0"

    drive "page-Жtemp-漢字" <<'EOF' || true
dialog
text 1012 Welcome to Page Test
click 1
text 1 Finish
press 13
exit 0
EOF
    expect_left ""
    expect_ran "0 0"

    # A failed silent install leaves its files, under their names, and says why in the log of the
    # temporary folder, with the package's path spelt right.
    (cd "$folder" && write_list "0 7" 's/notes\.txt/not\xe9s.txt/g' && mv notes.txt notés.txt &&
      rm -f package.exe && bash "$wine_run" QorEngineUpdate.exe /m '.\list.ini' >/dev/null 2>&1) ||
      fail "/m of the failing package failed"
    drive "failed-Жtemp-漢字" /h <<'EOF' || true
exit -1
EOF
    expect_left "QorEngineUpdate.log "
    grep -qF "Пакет 包\package.exe	error code 7" "$temp/QorEngineUpdate.log" ||
      fail "failure line: $(cat "$temp/QorEngineUpdate.log" 2>/dev/null)"
    ;;

  *)
    echo "page.sh: unknown group $group" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "page.sh $group: $failures failure(s)" >&2
  exit 1
fi
echo "page.sh $group: all scenarios passed"
