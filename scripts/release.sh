#!/usr/bin/env bash
# Builds a release of the Windows host: a versioned zip holding the stripped host, the
# installer, the docs and SHA256SUMS, with the host's debug symbols in a file of their
# own beside it. Host and installer are Authenticode-signed when a certificate is given.
#
#   scripts/release.sh --extension-ids "<id>;<id>" [--firefox-ids "<id>;<id>"]
#                      [--pkcs12 cert.pfx [--password-file FILE] | --cert cert.pem --key key.pem]
#                      [--timestamp-url URL] [--host-exe PATH] [--out DIR]
#
# The allowed extension ids are part of the installer. The development default lets in the
# browser test's extension, whose key is in this repository, so anyone could load an
# extension with that id: a release that lets it (or the development Firefox id) in is
# refused. Without --host-exe the Windows preset is configured and the host built.
# See docs/release.md for signing with a real certificate.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

die() { echo "release: $*" >&2; exit 2; }

extension_ids="" firefox_ids="" pkcs12="" password_file="" cert="" key=""
timestamp_url="" host_exe="" out="$root/build/release"
while [ $# -gt 0 ]; do
  case "$1" in
    --extension-ids) extension_ids=$2; shift 2 ;;
    --firefox-ids) firefox_ids=$2; shift 2 ;;
    --pkcs12) pkcs12=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --timestamp-url) timestamp_url=$2; shift 2 ;;
    --host-exe) host_exe=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) die "unknown option '$1' (see --help)" ;;
  esac
done

[ -n "$extension_ids$firefox_ids" ] || die "name the extensions that may connect: --extension-ids and/or --firefox-ids"
if [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then die "give either --pkcs12 or --cert with --key, not both"; fi
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then die "--cert and --key go together"; fi
[ -z "$password_file" ] || [ -n "$pkcs12" ] || [ -n "$key" ] || die "--password-file needs --pkcs12 or --key"

version=$(sed -n 's/.*kHostVersion = "\([0-9.]*\)".*/\1/p' "$root/host/src/main/dispatch.h")
[ -n "$version" ] || die "cannot read the host version from host/src/main/dispatch.h"

# Checks every id and refuses the development ones, before anything is written to $out;
# writes the installer's id macros.
ids_nsh=$(mktemp --suffix=.nsh)
trap 'rm -f "$ids_nsh"' EXIT
cmake -DQUORVANE_EXTENSION_IDS="$extension_ids" -DQUORVANE_FIREFOX_EXTENSION_IDS="$firefox_ids" \
  -DQUORVANE_REFUSE_TEST_IDS=ON -DQUORVANE_ALLOWED_IDS_OUTPUT="$ids_nsh" \
  -P "$root/installer/allowed_ids.cmake"

work="$out/.work"
rm -rf "$work"
mkdir -p "$work"

if [ -z "$host_exe" ]; then
  (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows --target quorvane-host)
  host_exe="$root/build/windows/bin/quorvane-host.exe"
fi
[ -f "$host_exe" ] || die "no host executable at $host_exe"

sign() {  # sign FILE: replaces FILE with its signed copy
  [ -n "$pkcs12$cert" ] || return 0
  local args=(sign -h sha256 -n "Quorvane host" -in "$1" -out "$1.signed")
  if [ -n "$pkcs12" ]; then args+=(-pkcs12 "$pkcs12"); else args+=(-certs "$cert" -key "$key"); fi
  [ -z "$password_file" ] || args+=(-readpass "$password_file")
  [ -z "$timestamp_url" ] || args+=(-ts "$timestamp_url")
  osslsigncode "${args[@]}" >/dev/null
  mv "$1.signed" "$1"
}

name="quorvane-host-$version"
stage="$work/$name"
mkdir -p "$stage/docs"
objcopy=x86_64-w64-mingw32-objcopy
# The symbols go to a file of their own; the debug link lets a debugger find them again.
# Both edits come before signing: any change after it would break the signature.
$objcopy --only-keep-debug "$host_exe" "$work/quorvane-host.exe.debug"
$objcopy --strip-all --add-gnu-debuglink="$work/quorvane-host.exe.debug" "$host_exe" "$stage/quorvane-host.exe"
sign "$stage/quorvane-host.exe"

makensis -V2 -WX -NOCD -DHOST_EXE="$stage/quorvane-host.exe" -DOUTFILE="$stage/quorvane-host-setup.exe" \
  -DVERSION="$version" -DIDS_NSH="$ids_nsh" "$root/installer/quorvane-host.nsi"
sign "$stage/quorvane-host-setup.exe"

cp "$root"/docs/*.md "$stage/docs/"
cp "$root/README.md" "$stage/README.md"
(cd "$stage" && find . -type f ! -name SHA256SUMS | LC_ALL=C sort | sed 's|^\./||' | xargs sha256sum > SHA256SUMS)

mkdir -p "$out"
rm -f "$out/$name-windows-x64.zip" "$out/$name-symbols.debug" "$out/SHA256SUMS"
(cd "$work" && zip -q -X -r "$out/$name-windows-x64.zip" "$name")
mv "$work/quorvane-host.exe.debug" "$out/$name-symbols.debug"
(cd "$out" && sha256sum "$name-windows-x64.zip" "$name-symbols.debug" > SHA256SUMS)
rm -rf "$work"

echo "release $version in $out:"
(cd "$out" && ls -l "$name-windows-x64.zip" "$name-symbols.debug" SHA256SUMS | awk '{print "  " $5 "\t" $NF}')
if [ -n "$pkcs12$cert" ]; then echo "  host and installer signed"; else echo "  not signed (no certificate given)"; fi
