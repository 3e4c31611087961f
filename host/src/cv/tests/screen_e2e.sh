#!/usr/bin/env bash
# Puts the screen test's picture on the X root window, then runs the screen tests with it.
#   screen_e2e.sh <wine runner> <chrome.exe>
# The runner makes sure Xvfb and the Wine prefix exist; the picture stays on the root
# window because that Xvfb runs with -noreset.
set -euo pipefail
runner=$1
exe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$runner" "$exe" --write-desktop "Z:$work/desktop.png"
export DISPLAY="${DISPLAY:-${QUORVANE_DISPLAY:-:71}}"
# display reports a non-zero status even when it has set the root background; the test
# checks the pixels itself.
display -window root "$work/desktop.png" || true
QUORVANE_DESKTOP_PNG="Z:$work/desktop.png" "$runner" "$exe"
