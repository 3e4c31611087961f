#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests and tools of the Windows build.
# Provides what a bare machine lacks: an X display (Xvfb, 1920x1080, kept alive with
# -noreset so a picture put on its root window stays there) and an initialised Wine
# prefix. Both are reused across runs; set DISPLAY or WINEPREFIX to bring your own.
#
# QUORVANE_WINE_PROFILE picks the Windows configuration the prefix shows:
#   (unset) or default   Wine's own defaults: 96 DPI, the Windows 7 build number (7601)
#   win10-144dpi         150 % scaling (LogPixels 144) and the Windows 10 build number
# A profile other than the default gets a prefix of its own beside the default one
# (WINEPREFIX with "-<profile>" appended), configured once when it is first created.
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
profile="${QUORVANE_WINE_PROFILE:-default}"
case "$profile" in
  default) ;;
  win10-144dpi) WINEPREFIX="${WINEPREFIX%/}-$profile" ;;
  *) echo "wine-run.sh: unknown QUORVANE_WINE_PROFILE '$profile' (default, win10-144dpi)" >&2; exit 2 ;;
esac
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The marker file is written last, so a configuration cut short is done again.
marker="$WINEPREFIX/.quorvane-profile"
if [ ! -f "$WINEPREFIX/system.reg" ] || { [ "$profile" != default ] && [ "$(cat "$marker" 2>/dev/null)" != "$profile" ]; }; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot --init >/dev/null 2>&1 || true
      wineserver --wait || true
    fi
    if [ "$profile" = win10-144dpi ] && [ "$(cat "$marker" 2>/dev/null)" != "$profile" ]; then
      # The user's DPI is read when a session starts: the wineserver is stopped after the
      # change, and the next program starts a fresh one that sees it.
      wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
      wine winecfg -v win10 >/dev/null 2>&1
      wineserver --kill || true
      wineserver --wait || true
      echo "$profile" >"$marker"
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
