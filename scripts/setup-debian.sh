#!/usr/bin/env bash
# Installs everything the builds and tests need on Debian 12, from Debian's packages.
# Safe to run again; does nothing when all packages are present. Needs root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  nlohmann-json3-dev libstb-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev
  clang-format-14  # the format check
  wine wine64 xvfb xauth x11-utils imagemagick xdotool
  nsis chromium firefox-esr  # the Windows installer; the real-browser tests
  osslsigncode openssl zip unzip  # the release script and its test
)
# Node runs the extension client's tests and the browser and installer tests; a Node
# that came from elsewhere serves as well as Debian's.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
if [ "${QUORVANE_WITH_OPENCV:-0}" = 1 ]; then
  packages+=(libopencv-dev)  # only the matching benchmark's baselines use it
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
