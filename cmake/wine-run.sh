#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests and tools of the Windows build.
# Provides what a bare machine lacks: an X display (Xvfb, 1920x1080, kept alive with
# -noreset so a picture put on its root window stays there) and an initialised Wine
# prefix. Both are reused across runs; set DISPLAY or WINEPREFIX to bring your own.
set -euo pipefail

: "${QUORVANE_DISPLAY:=:71}"
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY="$QUORVANE_DISPLAY"
fi
if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
  lock="/tmp/.quorvane-xvfb${DISPLAY#:}.lock"
  (
    flock 9
    if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
      setsid Xvfb "$DISPLAY" -screen 0 1920x1080x24 -noreset -nolisten tcp >/dev/null 2>&1 < /dev/null &
      for _ in $(seq 1 100); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break
        sleep 0.1
      done
    fi
  ) 9>"$lock"
fi

: "${WINEPREFIX:=${HOME}/.quorvane-wine}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot --init >/dev/null 2>&1 || true
      wineserver --wait || true
    fi
  ) 9>"/tmp/.quorvane-wineprefix.lock"
fi
# Keep one wineserver alive between test programs: starting it costs most of a second.
# The session's long-lived helpers (wineserver, services, device drivers) are started by
# a throw-away command with its streams on /dev/null: started by the real program they
# would inherit its output pipe, and whoever reads that pipe (ctest, a shell pipeline)
# would wait for them until they exit. The desktop process (explorer.exe) is one of them,
# started on the first use of a window or of the input queue, so the throw-away command
# touches the desktop; otherwise a host started by the browser stand-in could be the one to
# start it, and the stand-in would wait forever for the host's error pipe to close.
wineserver --persistent=60 </dev/null >/dev/null 2>&1 || true
wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true

exec wine "$@"
