#!/usr/bin/env bash
# The main job: builds everything, builds the example package from examples/ with
# QorEngineUpdate.exe /m under Wine, and installs it silently (/h) under Wine, telling what happened.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1
bash scripts/build.sh native windows || exit 1

build=$root/build/windows
stage=$build/example-run
wine_run=$root/tests/wine/wine-run.sh
rm -rf "$stage"; mkdir -p "$stage"
cp examples/list.ini examples/readme.txt examples/license.txt "$stage/"
cp "$build/examples/example_setup.exe" "$build/QorEngineUpdate.exe" "$stage/"
cd "$stage"
trap 'bash "$root/tests/wine/prefix.sh" down "$build"' EXIT
status_of() { tr -d '\r' | sed -n 's/^EXITCODE [0-9]* //p'; }

echo
echo "== 1. Build the package: QorEngineUpdate.exe /m .\\list.ini   (in $stage)"
build_status=$(bash "$wine_run" "$build/tests/wine/runner.exe" QorEngineUpdate.exe /m '.\list.ini' | status_of)
echo "   exit status: $build_status"
if [ -s logfile.txt ]; then echo "   build log:"; sed 's/^/     | /' logfile.txt | tr -d '\r'; else echo "   build log: empty (no warnings)"; fi
package=$(ls QorExample*.exe 2>/dev/null | head -n 1 || true)
if [ "$build_status" != 0 ] || [ -z "$package" ]; then
  echo "   no package was built: the package builder is not complete yet."
  exit 1
fi
echo "   package: $package, $(stat -c %s "$package") bytes"
if "$root/build/native/tools/qorpack" list "$package" >/tmp/qorpack-list.$$ 2>&1; then
  echo "   contents (qorpack list):"; sed 's/^/     | /' /tmp/qorpack-list.$$
fi
rm -f /tmp/qorpack-list.$$

echo
echo "== 2. Install it silently: $package /h"
source "$root/tests/wine/env.sh" "$build"
temp=$WINEPREFIX/drive_c/${QOR_TEMP#[Cc]:\\}  # the prefix's temporary folder (env.sh)
temp=${temp//\\//}
target="$WINEPREFIX/drive_c/Program Files/Qor Example"
rm -rf "$target"
install_status=$(bash "$wine_run" "$build/tests/wine/runner.exe" "$package" /h | status_of)
echo "   exit status: $install_status"
if [ -f "$target/install.log" ]; then
  echo "   the finishing command (setup.exe /quiet) wrote:"
  sed 's/^/     | /' "$target/install.log" | tr -d '\r'
  echo "   installed files: $(cd "$target" && ls | tr '\n' ' ')"
else
  echo "   the finishing command left no install.log: the installer is not complete yet."
fi
left=$(cd "$temp" 2>/dev/null && ls -A | grep -E -i '^(setup\.exe|readme\.txt|license\.txt|SetupQor\.ini|temp\.exe|Qor[0-9A-F]{16})$' || true)
echo "   left in the temporary folder: ${left:-nothing}"
[ "$install_status" = 0 ] || exit 1
echo
echo "main job: done"
