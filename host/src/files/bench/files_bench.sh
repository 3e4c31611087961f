#!/usr/bin/env bash
# Runs files_bench.exe under Wine, then times cat on the same files for comparison.
#   host/src/files/bench/files_bench.sh <windows build dir>
set -euo pipefail
build="${1:-build/windows}"
folder=/tmp/quorvane-files-bench
mkdir -p "$folder"
"$(dirname "$0")/../../../../cmake/wine-run.sh" "$build/bin/files_bench.exe" 'Z:\tmp\quorvane-files-bench'
echo "cat of the same files (page cache warm, as for the host):"
for f in range-1g.bin whole-100m.bin; do
  cat "$folder/$f" > /dev/null
  /usr/bin/time -f "  cat $f: %e s, peak resident %M KiB" cat "$folder/$f" > /dev/null
done
[ "${KEEP:-0}" = 1 ] || rm -rf "$folder"
