#!/usr/bin/env bash
# Payloads as vendors ship them, installed under Wine from packages built with the executable's own
# /m: an MSI made with wixl (a file under Program Files and a registry value) run with /qn, a setup
# made with makensis run with /S, and a command script that writes a file and ends with 3010; the
# MSI once more from the page. Each must install, pass its exit status through, name the system's
# msiexec.exe or cmd.exe in the record (never a planted one, nor COMSPEC), and leave its temporary
# folder empty. Every case gets a Wine prefix made fresh for it: what an install wrote into the
# prefix (Program Files, the registry, the installer's own records) is the subject.
# Usage (from inside the build folder):
#   payloads.sh msi|nsis|cmd|msi-page QorEngineUpdate.exe driver.exe finisher.exe page_finisher.exe
set -euo pipefail
group=$1
here=$(cd "$(dirname "$0")" && pwd)
wine_dir="$here/../wine"
for tool in wixl makensis iconv; do
  command -v "$tool" >/dev/null || { echo "payloads.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
work=$PWD/payload-$group own=$PWD/payload-$group-wine
rm -rf "$work" "$own"
mkdir -p "$work" "$own"
cd "$work"
cp "$2" QorEngineUpdate.exe
driver=$3
cp "$4" product-info.exe     # a program with a version block, as File01 must be; never started
cp "$5" planted.exe          # writes page-finisher.ran in its current folder when it runs

trap 'bash "$wine_dir/prefix.sh" down "$own"; rm -rf "$own"' EXIT
bash "$wine_dir/prefix.sh" up "$own"
in_prefix() (source "$wine_dir/env.sh" "$own" && exec wine "$@")
# The prefix of the Wine in use (each Wine version keeps one of its own).
drive_c=$(source "$wine_dir/env.sh" "$own" && echo "$WINEPREFIX")/drive_c

scenario=$group
failures=0
fail() {
  echo "FAIL [$scenario]: $*" >&2
  failures=$((failures + 1))
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# build FINISHING_COMMAND FILE...: package.exe from a packing list of the files, with the page's
# English texts.
build() {
  local command=$1 n=1 file
  shift
  {
    printf '[Cmd]\r\nLANG=ENU\r\nTitle=Payload Test\r\nFileName=%s\r\n[Files]\r\n' "$command"
    for file in "$@"; do
      printf 'File%02d=%s, %s\r\n' "$n" "$file" "$file"
      n=$((n + 1))
    done
    printf '[Out]\r\nOutputName=package.exe\r\n[In]\r\nQorFileName=QorEngineUpdate.exe\r\n'
    printf '[ENU]\r\nMsg02=Welcome to\r\nMsg06=Press Next to install.\r\nMsg07=< Back\r\nMsg08=Finish\r\n'
    printf 'Msg09=Next >\r\nMsg10=Cancel\r\nMsg11=This wizard installs Payload Test.\r\nMsg05=Installed.\r\n'
    printf 'Err07=The installation program failed.\r\n'
  } >list.ini
  rm -f package.exe logfile.txt
  in_prefix QorEngineUpdate.exe /m '.\list.ini' >/dev/null 2>&1 || true
  [ -f package.exe ] || fail "package.exe was not built: $(cat logfile.txt 2>/dev/null)"
}

# install TEMP ARGUMENTS: runs package.exe with the driver script on standard input, TEMP as its
# temporary folder, a planted msiexec.exe and cmd.exe first on PATH and COMSPEC naming a program of
# the test's own: none of them may run.
install() {
  local temp=$1 arguments=$2
  rm -rf "$temp" page-finisher.ran
  mkdir -p "$temp" planted
  cp planted.exe planted/msiexec.exe
  cp planted.exe planted/cmd.exe
  {
    echo "env TMP=$(winpath "$temp")\\"
    echo "env TEMP=$(winpath "$temp")\\"
    echo "env COMSPEC=$(winpath "$work/planted.exe")"
    echo "env PATH=$(winpath "$work/planted");C:\\windows\\system32;C:\\windows"
    echo "dir $(winpath "$work")"
    echo "start \"$(winpath "$work/package.exe")\" $arguments"
    cat
  } >drive.txt
  if ! in_prefix "$driver" drive.txt >drive.log 2>&1; then fail "driver: $(tr -d '\r' <drive.log)"; fi
  [ ! -e page-finisher.ran ] || fail "a planted program ran instead of the system's"
  local left
  left=$(find "$temp" -mindepth 1 | sed "s|^$temp/||" | tr '\n' ' ')
  [ -z "$left" ] || fail "the temporary folder holds: $left"
}

# expect_line TEXT: the install's record holds the line TEXT.
expect_line() { grep -qxF -- "$1"$'\r' record.txt || fail "no line '$1' in the record: $(tr -d '\r' <record.txt)"; }

msi() {
  echo 'Installed by the payload test.' >hello.txt
  cat >product.wxs <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Qor Payload Test" Language="1033" Version="1.2.3" Manufacturer="Qor Tests"
           UpgradeCode="8E0B6C1A-5A0E-4B7E-9C55-2D7E0B1A9C41">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Qor Payload Test">
          <Component Id="Main" Guid="3C1D9E2A-7B4F-4E8A-A1C2-5D6E7F809A1B">
            <File Id="Hello" Name="hello.txt" Source="hello.txt" KeyPath="yes" />
            <RegistryValue Root="HKLM" Key="Software\Qor Payload Test" Name="Installed" Type="string" Value="yes" />
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main" /></Feature>
  </Product>
</Wix>
EOF
  wixl -o product.msi product.wxs || fail "wixl failed"
  build 'product.msi /qn' product-info.exe product.msi
}

expect_msi_installed() {
  cmp -s hello.txt "$drive_c/Program Files/Qor Payload Test/hello.txt" || fail "hello.txt is not under Program Files"
  in_prefix reg query 'HKLM\Software\Qor Payload Test' /v Installed 2>/dev/null | grep -q 'Installed.*REG_SZ.*yes' ||
    fail "the registry value is missing"
}

case "$group" in
  msi)
    msi
    install "$work/temp" "/h /log $(winpath "$work/record.txt")" <<<'exit 0'
    expect_msi_installed
    # msiexec.exe of the system folder installs the package in the extraction folder.
    command=$(grep '^command: ' record.txt | tr -d '\r')
    [[ $command == 'command: "C:\windows\system32\msiexec.exe" /i "'"$(winpath "$work/temp")"'\Qor'*'\product.msi" /qn' ]] ||
      fail "the record's command: $command"
    expect_line 'command exit status: 0'
    expect_line 'exit status: 0'
    ;;

  msi-page)
    msi
    install "$work/temp" '' <<'EOF'
dialog
text 1012 Welcome to Payload Test
click 1
text 1007 Installed.
text 1 Finish
click 1
exit 0
EOF
    expect_msi_installed
    ;;

  nsis)
    echo 'Installed by the NSIS setup.' >hello.txt
    cat >setup.nsi <<'EOF'
Unicode true
Name "Qor NSIS Test"
OutFile "setup.exe"
InstallDir "$PROGRAMFILES\Qor NSIS Test"
RequestExecutionLevel admin
VIProductVersion "1.2.3.4"
VIAddVersionKey "ProductName" "Qor NSIS Test"
VIAddVersionKey "FileVersion" "1.2.3.4"
VIAddVersionKey "FileDescription" "The payload test's NSIS setup"
VIAddVersionKey "LegalCopyright" "none"
Section
  SetOutPath "$INSTDIR"
  File "hello.txt"
  WriteRegStr HKLM "Software\Qor NSIS Test" "Installed" "yes"
SectionEnd
EOF
    makensis -V1 setup.nsi >/dev/null || fail "makensis failed"
    build 'setup.exe /S' setup.exe
    install "$work/temp" "/h /log $(winpath "$work/record.txt")" <<<'exit 0'
    cmp -s hello.txt "$drive_c/Program Files/Qor NSIS Test/hello.txt" || fail "hello.txt is not under Program Files"
    in_prefix reg query 'HKLM\Software\Qor NSIS Test' /v Installed 2>/dev/null | grep -q 'Installed.*REG_SZ.*yes' ||
      fail "the registry value is missing"
    expect_line 'command exit status: 0'
    ;;

  cmd)
    # A temporary folder whose path holds blanks and the characters cmd.exe gives a meaning to, and a
    # script whose name has a blank: cmd.exe must still run this script, with its arguments whole.
    printf '@echo off\r\n> "installed by cmd.txt" echo ran with [%%*]\r\nexit /b 3010\r\n' >"in stall.cmd"
    build '"in stall.cmd" one "two three" four' product-info.exe 'in stall.cmd'
    temp="$work/t e&m(p)^x!y%z;w=v,u'"
    install "$temp" "/h /log $(winpath "$work/record.txt")" <<<'exit 3010'
    [ "$(tr -d '\r' <'installed by cmd.txt' 2>/dev/null)" = 'ran with [one "two three" four]' ] ||
      fail "the script wrote: $(cat 'installed by cmd.txt' 2>/dev/null)"
    expect_line 'command: "C:\windows\system32\cmd.exe" /d /v:off /s /c ""%QOR_COMMAND_SCRIPT%" one "two three" four"'
    grep -qE '^QOR_COMMAND_SCRIPT: .*\\in stall\.cmd'$'\r''$' record.txt || fail "the record names no script"
    expect_line 'command exit status: 3010'
    expect_line 'exit status: 3010'
    ;;

  *)
    echo "payloads.sh: unknown group $group" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "payloads.sh $group: $failures failure(s)" >&2
  exit 1
fi
echo "payloads.sh $group: passed"
