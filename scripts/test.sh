#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test: the native build, the native build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh

jobs=$(nproc)
status=0
run_preset() {
  local preset=$1
  echo "==> $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "==> $preset: test"
  ctest --preset "$preset" || status=1
}

run_preset native
run_preset native-sanitize
run_preset windows
exit $status
