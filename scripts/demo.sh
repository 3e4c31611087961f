#!/usr/bin/env bash
# The main job, end to end: builds the Windows host, puts a known picture on an X
# display, and drives quorvane-host.exe under Wine with the command-line client through
# a real sequence of requests. Prints every reply.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup-debian.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target quorvane-host quorvane-call -j "$(nproc)"

work=$(mktemp -d /tmp/quorvane-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The display: the same one the Windows tests use (started on demand, kept alive).
export DISPLAY="${QUORVANE_DISPLAY:-:71}"
"$root/cmake/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true

# A desktop with a title bar, a panel with rows of "text" bars and a distinctive badge;
# the badge is cut out as the pattern. (Shapes only: a bare machine has no fonts.)
convert -size 1920x1080 xc:'#dfe3e8' \
  -fill '#2b579a' -draw 'rectangle 0,0 1919,48' \
  -fill white -draw 'rectangle 200,150 1100,800' \
  -fill '#333333' -draw 'rectangle 240,200 700,214' -draw 'rectangle 240,240 610,254' \
  -draw 'rectangle 240,280 820,294' -draw 'rectangle 240,320 520,334' \
  -fill '#e81123' -draw 'rectangle 1400,600 1479,659' \
  -fill '#ffb900' -draw 'circle 1440,630 1440,610' \
  "$work/desktop.png"
convert "$work/desktop.png" -crop 80x60+1400+600 +repage "$work/badge.png"
# display exits with status 1 even when it has painted the root window.
display -window root "$work/desktop.png" || true

win() { printf 'Z:%s' "$1"; }
cat > "$work/requests.jsonl" <<REQ
{"method":"get_version"}
{"method":"get_display_list"}
{"method":"get_desktop_dpi"}
{"method":"get_image_info","params":{"content":"@base64:$work/badge.png"}}
{"method":"capture_desktop","params":{"path":"$(win "$work/capture.png")"}}
{"method":"search_desktop","params":{"pattern":{"data":"@base64:$work/badge.png"},"options":{"minSimilarity":0.95}}}
{"method":"search_image","params":{"image":{"data":"@base64:$work/desktop.png"},"pattern":{"data":"@base64:$work/badge.png"}}}
{"method":"find_color_regions","params":{"color":"#e81123","tolerance":0}}
{"method":"find_rectangle","params":{"color":"e81123"}}
{"method":"write_all_text","params":{"path":"$(win "$work/note.txt")","content":"written by the host"}}
{"method":"read_all_text","params":{"path":"$(win "$work/note.txt")"}}
{"method":"get_file_system_entries","params":{"path":"$(win "$work")"}}
{"method":"send_mouse_event","params":{"type":0,"button":0,"x":400,"y":300}}
{"method":"send_text","params":{"text":"typed by the host\${KEY_ENTER}"}}
{"method":"search_desktop","params":{"pattern":{"data":"@base64:$work/badge.png"},"options":{"limitSearchArea":true,"searchArea":{"x":0,"y":0,"width":800,"height":600}}}}
{"method":"no_such_method"}
REQ
echo "==> requests"
cat "$work/requests.jsonl"
echo "==> replies"
"$root/cmake/wine-run.sh" "$root/build/windows/bin/quorvane-call.exe" --file "$(win "$work/requests.jsonl")" |
  cut -c1-400

# Why a search matched where it did: the same screen search drawn as a picture, with the
# match outlined and labelled with its score (docs/search-pictures.md).
picture=/tmp/quorvane-demo-search.png
echo "==> a picture of the screen search"
"$root/cmake/wine-run.sh" "$root/build/windows/bin/quorvane-call.exe" --annotate "$(win "$picture")" search_desktop \
  "{\"pattern\":{\"data\":\"@base64:$work/badge.png\"},\"options\":{\"minSimilarity\":0.95}}" | cut -c1-400
echo "written to $picture"
