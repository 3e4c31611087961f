#!/usr/bin/env bash
# Confirms on the X side that the host really moves the pointer: runs the end-to-end
# program's pointer case (no mouse hook installed, so the move reaches the X server) and
# then asks the X server where its pointer is.
# Usage: pointer_x11_check.sh <wine runner> <input_e2e_tests.exe>
set -euo pipefail
runner=$1
exe=$2
export DISPLAY="${DISPLAY:-${QUORVANE_DISPLAY:-:71}}"

# Start from somewhere else, in case an earlier run left the pointer on the target.
xdotool mousemove 3 3 >/dev/null 2>&1 || true
"$runner" "$exe" --gtest_filter='HostMovesPointer.*'
location=$(xdotool getmouselocation)
echo "X pointer: $location"
case "$location" in
  "x:777 y:555 "*) echo "1 passed, 0 failed" ;;
  *) echo "expected x:777 y:555"; echo "0 passed, 1 failed"; exit 1 ;;
esac
