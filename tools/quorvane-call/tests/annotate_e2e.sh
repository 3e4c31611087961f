#!/usr/bin/env bash
# quorvane-call --annotate against the real host under Wine: the written picture has its
# outlines where the host's reply puts the regions, and, when nothing matched, the best
# candidate's outline where the pattern almost is.
#   annotate_e2e.sh CALL_EXE HOST_EXE WINE_RUN
set -uo pipefail
call=$1 host=$2 wine_run=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0
check() {
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); echo "ok   $1"
  else failed=$((failed + 1)); echo "FAIL $1: got '$2', expected '$3'"; fi
}
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:; }
match=0,230,64 candidate=255,150,0 grey=128,128,128

# A grey picture with the same 20x20 tile twice, and a different tile once.
convert -size 400x300 xc:'rgb(128,128,128)' \
  -fill 'rgb(200,40,40)' -draw 'rectangle 50,60 69,79' -fill 'rgb(20,20,200)' -draw 'rectangle 55,65 64,74' \
  -fill 'rgb(200,40,40)' -draw 'rectangle 300,200 319,219' -fill 'rgb(20,20,200)' -draw 'rectangle 305,205 314,214' \
  -fill 'rgb(200,40,40)' -draw 'rectangle 150,150 169,169' -fill 'rgb(20,20,200)' -draw 'rectangle 150,150 159,159' \
  "$work/screen.png"
convert "$work/screen.png" -crop 20x20+50+60 +repage "$work/tile.png"
params='{"image":{"data":"@base64:Z:'"$work"'/screen.png"},"pattern":{"data":"@base64:Z:'"$work"'/tile.png"},"options":{"minSimilarity":0.95}}'
reply=$("$wine_run" "$call" --host "Z:$host" --annotate "Z:$work/matches.png" search_image "$params" 2>/dev/null)
echo "$reply"
check "two matches" "$(grep -o '"matchedRect"' <<<"$reply" | wc -l)" 2
for at in "50 60" "300 200"; do
  set -- $at
  check "outline left of the match at ($1,$2)" "$(pixel "$work/matches.png" $(($1 - 1)) $(($2 + 10)))" $match
  check "outline right of the match at ($1,$2)" "$(pixel "$work/matches.png" $(($1 + 20)) $(($2 + 10)))" $match
  check "outline above the match at ($1,$2)" "$(pixel "$work/matches.png" $(($1 + 10)) $(($2 - 1)))" $match
  check "outline below the match at ($1,$2)" "$(pixel "$work/matches.png" $(($1 + 10)) $(($2 + 20)))" $match
  check "the match at ($1,$2) itself is untouched" "$(pixel "$work/matches.png" $(($1 + 1)) $(($2 + 1)))" 200,40,40
done
check "the third tile, which differs, has no outline" "$(pixel "$work/matches.png" 149 160)" $grey

# Nothing matches inside the area; the best candidate there is the differing tile.
params='{"image":{"data":"@base64:Z:'"$work"'/screen.png"},"pattern":{"data":"@base64:Z:'"$work"'/tile.png"},"options":{"minSimilarity":0.95,"limitSearchArea":true,"searchArea":{"x":120,"y":120,"width":100,"height":100}}}'
reply=$("$wine_run" "$call" --host "Z:$host" --annotate "Z:$work/none.png" search_image "$params" 2>/dev/null)
echo "$reply"
check "no match inside the search area" "$(grep -c '"regions":\[\]' <<<"$reply")" 1
# Where the host puts the best candidate: the first region when every score counts.
best=$("$wine_run" "$call" --host "Z:$host" search_image "${params/\"minSimilarity\":0.95/\"minSimilarity\":-1}" 2>/dev/null)
bx=$(sed -n 's/^[^[]*\[{"matchedRect":{"height":[0-9]*,"width":[0-9]*,"x":\([0-9]*\),"y":\([0-9]*\)}.*/\1/p' <<<"$best")
by=$(sed -n 's/^[^[]*\[{"matchedRect":{"height":[0-9]*,"width":[0-9]*,"x":\([0-9]*\),"y":\([0-9]*\)}.*/\2/p' <<<"$best")
echo "best candidate at ($bx,$by): $best" | cut -c1-160
# The dashed line starts with a dash at the outline's top-left corner.
check "the best candidate is outlined, dashed, where the host found it" "$(pixel "$work/none.png" $((bx - 1)) "$by")" $candidate
check "the best candidate itself is untouched" "$(pixel "$work/none.png" $((bx + 5)) $((by + 5)))" \
  "$(pixel "$work/screen.png" $((bx + 5)) $((by + 5)))"
check "the search area is outlined" "$(pixel "$work/none.png" 119 121)" 0,140,255
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
