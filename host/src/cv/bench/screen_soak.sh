#!/usr/bin/env bash
# Puts a busy 1920x1080 picture on the X root window and runs the capture soak on it.
#   screen_soak.sh <windows build dir> [--rounds N]
set -euo pipefail
build=$1
shift
runner=$(dirname "$0")/../../../../cmake/wine-run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$runner" cmd /c exit 0 >/dev/null 2>&1 || true  # brings up Xvfb and the prefix
export DISPLAY="${DISPLAY:-${QUORVANE_DISPLAY:-:71}}"
convert -seed 7 -size 1920x1080 plasma:fractal "$work/desktop.png"
display -window root "$work/desktop.png" || true
"$runner" "$build/bin/screen_soak.exe" "$@"
