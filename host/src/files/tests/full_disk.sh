#!/usr/bin/env bash
# Mounts a 16 MiB RAM disk (room, once the filler is gone, for a capture of any screen,
# even one of pure noise), runs the full-disk test program on it under Wine, and
# unmounts it again on every way out.
#   full_disk.sh <wine runner> <files_full_disk_tests.exe>
# Exits 77 (reported as skipped) where no file system can be mounted (not root, or a
# container without the right to mount).
set -uo pipefail
runner=$1
exe=$2
dir=$(mktemp -d /tmp/quorvane-full-disk.XXXXXX)
mounted=0
cleanup() {
  if [ "$mounted" = 1 ]; then
    umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
  fi
  rmdir "$dir" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if ! mount -t tmpfs -o size=16m,mode=0777 quorvane-full-disk "$dir" 2>/dev/null; then
  echo "cannot mount a small file system here (needs root and the right to mount): skipped"
  exit 77
fi
mounted=1
QUORVANE_FULL_DISK_DIR="Z:${dir//\//\\}" "$runner" "$exe"
