# Sourced by the Wine helpers: the environment of the build folder's own Wine prefix.
# Usage: source env.sh BUILD_DIR
qor_build=$1
export WINEPREFIX="$qor_build/wine/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
# Wine reads Unix file names in the locale's character set: without a UTF-8 locale (a fresh machine
# has none set) a folder named outside ASCII cannot be reached at all.
export LC_ALL=C.UTF-8
# No Mono/Gecko download prompts, and no menu entries in $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Every Windows test runs on the prefix's virtual display (started by prefix.sh), so headless and
# GUI tests share one wineserver: a wineserver started without a display would keep a headless
# desktop and the next GUI test would fail with "no driver could be loaded".
if [ -f "$qor_build/wine/display" ]; then
  export DISPLAY
  DISPLAY=$(cat "$qor_build/wine/display")
else
  unset DISPLAY
fi
