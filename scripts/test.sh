#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test: the native build under AddressSanitizer
# and UndefinedBehaviorSanitizer (which also replays every fuzz program's corpus: each file
# a past finding or a seed), and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh

jobs=$(nproc)
status=0

# Every C++ file as clang-format writes it (scripts/check-format.sh --fix rewrites them).
bash scripts/check-format.sh || status=1
run_preset() {
  local preset=$1
  shift
  echo "==> $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "==> $preset: test"
  ctest --preset "$preset" "$@" || status=1
}

# The portable tests run once natively, under the sanitizers (the benchmarks are built
# there too, so they keep compiling), and once more optimised in the Windows build. The
# plain `native` preset is for benchmarks and quick local runs; building it here as well
# would add minutes without running a test the other two do not.
run_preset native-sanitize
# Fuzzing campaigns (libFuzzer, clang) are scripts/fuzz.sh's; here the fuzz programs only
# replay their corpus, in both native builds, as ordinary tests.
# Tests that drive the shared X desktop under Wine (pointer, focus, typing) have been
# seen to fail about once in ten runs on a loaded machine, cause not yet found; a
# failing test gets one more run, and a second failure fails the build.
run_preset windows --repeat until-pass:2
exit $status
