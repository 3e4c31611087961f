#!/usr/bin/env bash
# scripts/release.sh end to end with a throw-away code-signing certificate: the release
# refuses the development extension ids; the zip holds the stripped host, the installer,
# the docs and SHA256SUMS; the symbols are a file of their own; host and installer carry
# Authenticode signatures that verify, and stop verifying when a byte changes; the
# stripped, signed host still answers under Wine.
#   release_test.sh HOST_EXE CALL_EXE WINE_RUN
set -uo pipefail
host=$1 call=$2 wine_run=$3
root="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0
check() {  # check NAME COMMAND...
  local name=$1; shift
  if "$@" >"$work/last.log" 2>&1; then passed=$((passed + 1)); echo "ok   $name"
  else failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/     /' "$work/last.log" | tail -20; fi
}
fails() { ! "$@"; }
# refused MESSAGE COMMAND...: the command fails, and for the reason given.
refused() {
  local message=$1 out; shift
  if out=$("$@" 2>&1); then echo "succeeded: $out"; return 1; fi
  echo "$out"; grep -q "$message" <<<"$out"
}

release_id=abcdefghijklmnopabcdefghijklmnop
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorvane throw-away test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
echo "throw-away" > "$work/pass"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
  -passout file:"$work/pass"

check "a release that lets the test extension in is refused" \
  refused "include a development id" bash "$root/scripts/release.sh" --extension-ids "ajbikmclagamihddhkcmbneidbgmpkme;$release_id" \
  --host-exe "$host" --out "$work/refused"
check "a release that lets the development Firefox id in is refused" \
  refused "include a development id" bash "$root/scripts/release.sh" --extension-ids "$release_id" \
  --firefox-ids "quorvane-dev@quorvane.invalid" --host-exe "$host" --out "$work/refused"
check "nothing is written for a refused release" test ! -e "$work/refused/SHA256SUMS"

check "a release with published ids and a certificate builds" \
  bash "$root/scripts/release.sh" --extension-ids "$release_id" --firefox-ids "release@quorvane.invalid" \
  --pkcs12 "$work/cert.pfx" --password-file "$work/pass" --host-exe "$host" --out "$work/out"
cat "$work/last.log"
version=$(sed -n 's/.*kHostVersion = "\([0-9.]*\)".*/\1/p' "$root/host/src/main/dispatch.h")
name="quorvane-host-$version"
check "SHA256SUMS beside the zip holds the zip and the symbols" \
  bash -c "cd '$work/out' && sha256sum -c SHA256SUMS && grep -c . SHA256SUMS | grep -qx 2"
mkdir -p "$work/unzipped"
check "the zip unpacks into one versioned folder" unzip -q "$work/out/$name-windows-x64.zip" -d "$work/unzipped"
dir="$work/unzipped/$name"
check "the zip holds host, installer, docs and README, each in SHA256SUMS" \
  bash -c "cd '$dir' && test -f quorvane-host.exe && test -f quorvane-host-setup.exe && test -f docs/methods.md \
    && test -f README.md && sha256sum -c SHA256SUMS && test \$(find . -type f ! -name SHA256SUMS | wc -l) -eq \$(wc -l < SHA256SUMS)"
sections() { x86_64-w64-mingw32-objdump -h "$1" | grep -c ' \.debug_'; }
check "the released host has no debug sections" \
  bash -c "x86_64-w64-mingw32-objdump -h '$dir/quorvane-host.exe' > '$work/headers' && ! grep -q ' \.debug_' '$work/headers'"
check "the symbols file holds them" test "$(sections "$work/out/$name-symbols.debug")" -gt 0
for exe in quorvane-host.exe quorvane-host-setup.exe; do
  check "$exe carries a signature that verifies against the certificate" \
    osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/$exe"
  cp "$dir/$exe" "$work/tampered.exe" || { failed=$((failed + 1)); continue; }
  # A byte in the middle of the file (code or packed data), not in the signature itself.
  size=$(stat -c %s "$work/tampered.exe")
  printf '\x5a' | dd of="$work/tampered.exe" bs=1 seek=$((size / 3)) conv=notrunc status=none
  check "$exe with one byte changed no longer verifies" \
    fails osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe"
done
check "the stripped, signed host answers get_version under Wine" \
  bash -c "'$wine_run' '$call' --host 'Z:$dir/quorvane-host.exe' get_version | grep -qx '{\"id\":1,\"result\":\"$version\"}'"

echo "sizes: built host $(stat -c %s "$host") bytes; released (stripped, signed) $(stat -c %s "$dir/quorvane-host.exe");" \
  "installer $(stat -c %s "$dir/quorvane-host-setup.exe"); symbols $(stat -c %s "$work/out/$name-symbols.debug");" \
  "zip $(stat -c %s "$work/out/$name-windows-x64.zip")"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
