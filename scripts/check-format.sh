#!/usr/bin/env bash
# Every C++ file in the repository must read as clang-format 14 writes it with the repo's
# .clang-format; this lists the ones that do not. `--fix` rewrites them in place.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format-14 -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format-14 --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "not formatted (bash scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files as clang-format writes them"
