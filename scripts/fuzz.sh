#!/usr/bin/env bash
# Fuzzing campaigns: runs every fuzz program (or those named after the seconds) for the
# given number of seconds each, one after another, starting from its corpus in
# fuzz/corpus/<program>. New inputs go to build/fuzz/found/<program>; with --merge, the
# ones that add coverage are merged into the corpus folder afterwards. Crashes are written
# to build/fuzz/crashes/ and make the script exit non-zero.
#
#   bash scripts/fuzz.sh [--merge] [seconds] [program...]
#   bash scripts/fuzz.sh --regression      the corpus once, then 5 s each (the tests replay
#                                          the corpus without libFuzzer: ctest -R _corpus)
set -euo pipefail
cd "$(dirname "$0")/.."

merge=0
regression=0
while [ $# -gt 0 ]; do
  case $1 in
    --merge) merge=1; shift ;;
    --regression) regression=1; shift ;;
    *) break ;;
  esac
done
seconds=${1:-60}
[ $# -gt 0 ] && shift

bin=build/fuzz/bin
# Campaigns need clang's libFuzzer; the tests do not (they replay the corpus with gcc).
if ! command -v clang++-14 >/dev/null 2>&1 || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev >/dev/null
fi
if [ ! -x "$bin/fuzz_json" ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$(nproc)"
fi

programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  for p in "$bin"/fuzz_*; do programs+=("$(basename "$p")"); done
fi

mkdir -p build/fuzz/crashes
status=0
for name in "${programs[@]}"; do
  corpus=fuzz/corpus/$name
  found=build/fuzz/found/$name
  mkdir -p "$corpus" "$found"
  # Inputs stay small: the parsers' interesting states are all reachable within a few KB,
  # and small inputs keep executions fast. 2 GB is the memory a request may cost at most.
  common=(-max_len=4096 -rss_limit_mb=2048 -timeout=20 -print_final_stats=1
          -artifact_prefix=build/fuzz/crashes/"$name"-)
  [ -f fuzz/dict/"$name".dict ] && common+=(-dict=fuzz/dict/"$name".dict)
  echo "==> $name"
  log=build/fuzz/$name.log
  if [ "$regression" = 1 ]; then
    # The whole corpus runs first (a crash there fails at once), then a short search.
    if ! "$bin/$name" "${common[@]}" -max_total_time=5 "$found" "$corpus" >"$log" 2>&1; then
      tail -n 40 "$log"
      status=1
    fi
    grep -E '^(#[0-9]+[[:space:]]+(DONE|INITED)|stat::number_of_executed_units)' "$log" || true
  else
    if ! nice -n 10 "$bin/$name" "${common[@]}" -max_total_time="$seconds" "$found" "$corpus" >"$log" 2>&1; then
      tail -n 40 "$log"
      status=1
    fi
    grep -E '^(#[0-9]+[[:space:]]+(DONE|INITED)|stat::number_of_executed_units)' "$log" || true
    if [ "$merge" = 1 ]; then
      "$bin/$name" -merge=1 -max_len=4096 "$corpus" "$found" 2>&1 | grep -E 'MERGE-OUTER: [0-9]+ new files' || true
    fi
  fi
done
exit $status
