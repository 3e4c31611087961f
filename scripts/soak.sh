#!/usr/bin/env bash
# The soak of the real host, after the Windows build: a busy picture on the X root window,
# then one host serving COUNT mixed requests (default 10000); prints the host's handles,
# GDI objects and memory every 1000 requests and the p50/p99 time of each method.
#   scripts/soak.sh [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-10000}
exe=build/windows/bin/host_soak.exe
if [ ! -f "$exe" ]; then
  echo "build it first: cmake --build --preset windows --target host_soak" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 || true  # brings up Xvfb and the prefix
export DISPLAY="${DISPLAY:-${QUORVANE_DISPLAY:-:71}}"
convert -seed 7 -size 1920x1080 plasma:fractal "$work/desktop.png"
display -window root "$work/desktop.png" || true  # sets the background, exits 1 even so
cmake/wine-run.sh "$exe" --requests "$count" --every 1000
