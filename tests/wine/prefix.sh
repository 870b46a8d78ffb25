#!/usr/bin/env bash
# Sets up (up) or shuts down (down) the Wine prefix and virtual display of one build folder.
# Usage: prefix.sh up|down BUILD_DIR. "up" is idempotent and safe to run from several tests at once.
# QOR_SCREEN sets the virtual display's size and depth (default 1024x768x24) when "up" starts it.
set -euo pipefail
action=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$build/wine"

start_display() {
  local pidfile="$build/wine/xvfb.pid"
  if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then return; fi
  # A display number of our own: xvfb-run -a style lock-file probing, starting high to stay clear
  # of desktops and of other build folders' displays.
  local n
  for n in $(seq 90 190); do
    [ -e "/tmp/.X$n-lock" ] && continue
    rm -f "/tmp/.X11-unix/X$n"  # no lock, so no server: a socket left there is stale
    # 9>&-: long-lived children must not inherit the lock, or the next "up" would wait forever.
    Xvfb ":$n" -screen 0 "${QOR_SCREEN:-1024x768x24}" -nolisten tcp >"$build/wine/xvfb.log" 2>&1 9>&- &
    local pid=$!
    # Ready once it listens on its socket. A Wine program that comes earlier finds no display, and
    # the prefix's desktop then stays headless: every later box and dialog fails to appear.
    local tries
    for tries in $(seq 100); do
      [ -S "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$pid" 2>/dev/null; then
      echo "$pid" >"$pidfile"
      echo ":$n" >"$build/wine/display"
      return
    fi
  done
  echo "prefix.sh: no free X display for Xvfb" >&2
  exit 1
}

case "$action" in
  up)
    exec 9>"$build/wine/lock"
    flock 9
    start_display
    source "$here/env.sh" "$build"
    if [ ! -f "$WINEPREFIX/.qor-ready" ]; then
      rm -rf "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1 9>&- || true
      # No window manager under Xvfb: unmanaged windows avoid a 2 s wait per closed window.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 9>&-
      # Real dialog fonts, so the page's layout matches Windows.
      cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
      wineserver -w 9>&-
      touch "$WINEPREFIX/.qor-ready"
    fi
    # Keep the wineserver up between tests: a cold start costs 1-3 s per program run. "down" ends it.
    wineserver -p 9>&- >/dev/null 2>&1 || true
    # Wine's own services (and the desktop) outlive the program that first needs them and keep its
    # standard output and error open: started by a test, they would make CTest wait for that test's
    # output forever. Start them here (a no-op when they run already), with their output going
    # nowhere.
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    ;;
  down)
    if [ -d "$build/wine/prefix" ]; then
      source "$here/env.sh" "$build"
      wineserver -k 2>/dev/null || true
    fi
    if [ -f "$build/wine/xvfb.pid" ]; then
      kill "$(cat "$build/wine/xvfb.pid")" 2>/dev/null || true
      rm -f "$build/wine/xvfb.pid" "$build/wine/display"
    fi
    ;;
  *)
    echo "usage: prefix.sh up|down BUILD_DIR" >&2
    exit 2
    ;;
esac
