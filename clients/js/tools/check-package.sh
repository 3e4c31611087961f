#!/usr/bin/env bash
# The client as extension authors get it: the declarations against the method reference,
# then `npm pack`, the tarball installed into the example extension, and `tsc --noEmit`
# over the example (which also holds mistakes the types must reject). Needs the npm registry
# for TypeScript on the first run.
set -euo pipefail
package="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
npm_quiet=(--no-audit --no-fund --loglevel=error)

cd "$package"
[ -x node_modules/.bin/tsc ] || npm ci "${npm_quiet[@]}"
node tools/check-types.mjs

tarball=$(npm pack --silent --pack-destination "$work")
echo "packed $tarball: $(tar -tzf "$work/$tarball" | sed 's|^package/||' | sort | tr '\n' ' ')"
for file in quorvane-client.js quorvane-client.d.ts README.md LICENSE package.json; do
  tar -tzf "$work/$tarball" "package/$file" >/dev/null || { echo "the package lacks $file"; exit 1; }
done

cp -r example "$work/example"
cd "$work/example"
npm install "${npm_quiet[@]}" "$work/$tarball" typescript@5.9.3
node_modules/.bin/tsc --noEmit -p .
echo "the example extension type-checks against the installed package"
