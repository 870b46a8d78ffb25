#!/usr/bin/env bash
# The boxes that the program shows, read through driver.exe under Wine: the help box of "/?", and
# ReportFatal's script text with the reason under it, its language fallback, its fallback box, and its silence for code 6,
# the silent installer and the builder; every fatal end has the full exit status -1.
set -euo pipefail
probe=$1 exe=$2 driver=$3 runner=$4
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../wine/wine-run.sh"
work=$(dirname "$probe")/boxes.work
rm -rf "$work"; mkdir -p "$work"; cd "$work"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
failures=0

scenario() {  # name, then driver commands on stdin
  local name=$1
  cat >"$work/$name.txt"
  if out=$(bash "$wine_run" "$driver" "$(winpath "$work/$name.txt")" 2>&1 | tr -d '\r'); then
    echo "ok   $name"
  else
    echo "FAIL $name: $out"
    failures=$((failures + 1))
  fi
}

printf '[Cmd]\r\nLANG=DEU\r\nTitle=Product X\r\n[DEU]\r\nErr03=Datei kaputt\r\n[ENU]\r\nErr03=File broken\r\nErr04=Script incomplete\r\n' >"$work/lang.ini"
printf '[Cmd]\r\nTitle=Product Y\r\n[ENU]\r\nErr04=Script incomplete\r\n' >"$work/nolang.ini"

scenario help <<EOT
start $(winpath "$exe") /?
msgbox \nValid Command line options:\n\n  QorEngineUpdate /h [silent install]\n  QorEngineUpdate /h /log FILE [silent install, steps and outcome written to FILE]\n  QorEngineUpdate [UI Install]\n  QorEngineUpdate /log FILE [UI Install, steps and outcome written to FILE]\n\nA failed install without /log adds a line to QorEngineUpdate.log in %TEMP%.\n
boxcaption Tessaly Help
buttons OK
answer 1
exit 0
EOT

scenario script_text <<EOT
start $(winpath "$probe") 3 box $(winpath "$work/lang.ini")
msgbox Datei kaputt\n\nprobe
boxcaption Product X
buttons OK
answer 1
exit -1
EOT

scenario enu_without_lang <<EOT
start $(winpath "$probe") 4 box $(winpath "$work/nolang.ini")
msgbox Script incomplete\n\nprobe
boxcaption Product Y
answer 1
exit -1
EOT

scenario fallback_box <<EOT
start $(winpath "$probe") 2 box SetupQor.ini
msgbox Unable to find SetupQor.ini file.  Exiting.\n\nprobe
boxcaption Error Code: 2 (SetupQor.ini)\n
buttons OK
answer 1
exit -1
EOT

# Nothing may be shown: the program must end at once with -1 and no window.
for args in "6 box $(winpath "$work/lang.ini")" "3 silent $(winpath "$work/lang.ini")" \
            "2 silent SetupQor.ini" "3 builder $(winpath "$work/lang.ini")"; do
  out=$(timeout 20 bash "$wine_run" "$runner" "$(winpath "$probe")" $args 2>&1 | tr -d '\r') || true
  if [ "$out" = "EXITCODE 4294967295 -1" ]; then
    echo "ok   silent: $args"
  else
    echo "FAIL silent: $args: $out"
    failures=$((failures + 1))
  fi
done

exit $((failures > 0))
