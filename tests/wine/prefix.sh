#!/usr/bin/env bash
# Sets up (up) or shuts down (down) the Wine prefix and virtual display of one build folder, for the
# Wine first on PATH (env.sh says where each Wine's are); starts a virtual display of its own in a
# folder (display), for one test.
# Usage: prefix.sh up|down BUILD_DIR
#        prefix.sh display FOLDER   (FOLDER/display then names it, FOLDER/xvfb.pid is its server)
# "up" is idempotent and safe to run from several tests at once.
# QOR_SCREEN sets a virtual display's size and depth (default 1024x768x24).
set -euo pipefail
action=$1
here=$(cd "$(dirname "$0")" && pwd)

# Starts Xvfb on a free display number and notes it in $1/display, its process in $1/xvfb.pid;
# nothing when that server runs already. The server picks the number itself and writes it once it
# listens (-displayfd): a program that came earlier would find no display, and its prefix's desktop
# would stay headless. Two folders started at once never get the same number.
start_display() {
  local folder=$1
  if [ -f "$folder/xvfb.pid" ] && kill -0 "$(cat "$folder/xvfb.pid")" 2>/dev/null; then return; fi
  rm -f "$folder/display" "$folder/xvfb.pid" "$folder/xvfb.number"
  # 9>&-: long-lived children must not inherit prefix.sh's lock, or the next "up" would wait forever.
  Xvfb -displayfd 7 -screen 0 "${QOR_SCREEN:-1024x768x24}" -nolisten tcp \
    7>"$folder/xvfb.number" >"$folder/xvfb.log" 2>&1 9>&- &
  local pid=$! tries
  for tries in $(seq 200); do
    [ -s "$folder/xvfb.number" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -s "$folder/xvfb.number" ] && kill -0 "$pid" 2>/dev/null; then
    echo "$pid" >"$folder/xvfb.pid"
    echo ":$(tr -d '\n' <"$folder/xvfb.number")" >"$folder/display"
    return
  fi
  kill "$pid" 2>/dev/null || true
  echo "prefix.sh: Xvfb did not start: $(cat "$folder/xvfb.log")" >&2
  exit 1
}

stop_display() {
  local folder=$1
  if [ -f "$folder/xvfb.pid" ]; then
    kill "$(cat "$folder/xvfb.pid")" 2>/dev/null || true
    rm -f "$folder/xvfb.pid" "$folder/display" "$folder/xvfb.number"
  fi
}

case "$action" in
  up)
    build=$(cd "$2" && pwd)
    unset QOR_TEST_DISPLAY  # the prefix's services and desktop stay on its own display
    source "$here/env.sh" "$build"
    mkdir -p "$qor_state"
    exec 9>"$qor_state/lock"
    flock 9
    start_display "$qor_state"
    source "$here/env.sh" "$build"  # again, for the display
    if [ ! -f "$WINEPREFIX/.qor-ready" ]; then
      rm -rf "$WINEPREFIX" "$qor_state/temp"
      wineboot -i >/dev/null 2>&1 9>&- || true
      # No window manager under Xvfb: unmanaged windows avoid a 2 s wait per closed window.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 9>&-
      # Real dialog fonts, so the page's layout matches Windows: this Wine's own, where a Wine
      # installation keeps them.
      fonts=$(dirname "$(command -v wine)")/../share/wine/fonts
      [ -d "$fonts" ] || fonts=/usr/share/wine/fonts
      cp "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
      # TEMP and TMP from the environment variable QOR_TEMP (see env.sh); its value outside a test
      # is the folder that the prefix was made with.
      wine reg query 'HKCU\Environment' /v TEMP 2>/dev/null 9>&- |
        tr -d '\r' | sed -n 's/^[[:space:]]*TEMP[[:space:]]*REG_[A-Z_]*SZ[[:space:]]*//p' >"$qor_state/temp.new"
      [ -s "$qor_state/temp.new" ] || echo 'C:\windows\temp' >"$qor_state/temp.new"
      mv "$qor_state/temp.new" "$qor_state/temp"
      for variable in TEMP TMP; do
        wine reg add 'HKCU\Environment' /v "$variable" /t REG_EXPAND_SZ /d '%QOR_TEMP%' /f \
          >/dev/null 2>&1 9>&-
      done
      wineserver -w 9>&-
      touch "$WINEPREFIX/.qor-ready"
    fi
    source "$here/env.sh" "$build"  # again, for the temporary folder
    # Keep the wineserver up between tests: a cold start costs 1-3 s per program run. "down" ends it.
    wineserver -p 9>&- >/dev/null 2>&1 || true
    # Wine's own services outlive the program that first needs them and keep its standard output
    # and error open: started by a test, they would make CTest wait for that test's output forever.
    # Start them here (a no-op when they run already), with their output going nowhere.
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    # The same for the desktop process, which Wine starts for the first window otherwise: started
    # by a test, it would also live on that test's display and end with it, under the windows of
    # the tests still running. Here it starts on the prefix's own display, which stays until "down".
    if ! { [ -f "$qor_state/desktop.pid" ] && kill -0 "$(cat "$qor_state/desktop.pid")" 2>/dev/null; }; then
      wine explorer.exe /desktop </dev/null >/dev/null 2>&1 9>&- &
      echo $! >"$qor_state/desktop.pid"
    fi
    ;;
  down)
    build=$(cd "$2" && pwd)
    source "$here/env.sh" "$build"
    if [ -d "$WINEPREFIX" ]; then
      wineserver -k 2>/dev/null || true
    fi
    rm -f "$qor_state/desktop.pid"
    stop_display "$qor_state"
    # And the displays of tests that were ended before isolate.sh could stop them.
    for display in "$qor_state"/displays/*/; do
      [ ! -d "$display" ] || stop_display "${display%/}"
    done
    ;;
  display)
    mkdir -p "$2"
    start_display "$2"
    ;;
  stop-display)
    stop_display "$2"
    ;;
  *)
    echo "usage: prefix.sh up|down BUILD_DIR | display|stop-display FOLDER" >&2
    exit 2
    ;;
esac
