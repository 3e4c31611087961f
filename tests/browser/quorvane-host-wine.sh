#!/bin/sh
# Native-messaging host command for browsers on Linux: runs the Windows host under Wine.
# A browser starts the manifest's "path" with the caller's origin as its argument; the
# host takes no arguments, so they are dropped. Standard input and output go straight
# through to the Windows process, byte for byte.
#
# QUORVANE_HOST_EXE picks the executable (default: the Windows build's), DISPLAY and
# WINEPREFIX are used as cmake/wine-run.sh describes.
here=$(CDPATH= cd -- "$(dirname -- "$0")" && pwd)
repo=$(CDPATH= cd -- "$here/../.." && pwd)
exec "$repo/cmake/wine-run.sh" "${QUORVANE_HOST_EXE:-$repo/build/windows/bin/quorvane-host.exe}"
