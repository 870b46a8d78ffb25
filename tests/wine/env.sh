# Sourced by the Wine helpers: the environment of the build folder's own Wine prefix.
# Usage: source env.sh BUILD_DIR
# Each Wine has its prefix and display of its own in BUILD_DIR/wine/VERSION (e.g. wine/wine-8.0): a
# prefix that Wine 10 has touched is upgraded for it, and Wine 8 then refuses it. The Wine is the one
# first on PATH (scripts/wine10.sh puts Wine 10's wrappers there).
qor_build=$(cd "$1" && pwd)
if [ -z "${QOR_WINE_VERSION:-}" ]; then
  QOR_WINE_VERSION=$(wine --version 2>/dev/null | awk '{ print $1 }')
  export QOR_WINE_VERSION=${QOR_WINE_VERSION:-wine}
fi
qor_state=$qor_build/wine/$QOR_WINE_VERSION
mkdir -p "$qor_state"  # Wine makes the prefix's own folder, not the folders above it
export WINEPREFIX="$qor_state/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
# Wine reads Unix file names in the locale's character set: without a UTF-8 locale (a fresh machine
# has none set) a folder named outside ASCII cannot be reached at all.
export LC_ALL=C.UTF-8
# No Mono/Gecko download prompts, and no menu entries in $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# The temporary folder (TEMP and TMP) of every Windows program started from here. Wine takes them
# from the prefix's registry, not from the Unix environment; prefix.sh makes them %QOR_TEMP% there,
# which Wine expands from this environment. A test (QOR_TEST, set by isolate.sh) has a folder of its
# own, C:\tests\NAME, so that no test sees another's files; anything else gets the prefix's usual
# one, which prefix.sh noted in the state folder.
if [ -n "${QOR_TEST:-}" ]; then
  export QOR_TEMP="C:\\tests\\$QOR_TEST"
  [ ! -d "$WINEPREFIX/drive_c" ] || mkdir -p "$WINEPREFIX/drive_c/tests/$QOR_TEST"
elif [ -f "$qor_state/temp" ]; then
  QOR_TEMP=$(cat "$qor_state/temp")
  export QOR_TEMP
fi

# The virtual display: the test's own (QOR_TEST_DISPLAY, set by isolate.sh), else the prefix's
# (started by prefix.sh). Headless runs use one too: a wineserver started without a display keeps a
# headless desktop, and a later window of the prefix would fail with "no driver could be loaded".
if [ -n "${QOR_TEST_DISPLAY:-}" ]; then
  export DISPLAY=$QOR_TEST_DISPLAY
elif [ -f "$qor_state/display" ]; then
  export DISPLAY
  DISPLAY=$(cat "$qor_state/display")
else
  unset DISPLAY
fi
