#!/usr/bin/env bash
# The index page's search box in a real browser: an archive of 1000 captures
# of generated printouts (each finished and indexed as the watch does it) is
# opened from its folder (file://) in headless Chromium, words are typed into
# the search box, and the rows the page then shows must be exactly the
# captures `zavprint search` finds for the same words; a row found shows the
# line where the word stands. The side scripts must be valid JavaScript, and
# a screenshot of the narrowed page goes to OUTDIR/screenshots/index-search.png.
#
#   index_search_test.sh CHROMIUM OUTDIR ZAVPRINT ZAVARCHIVE [CAPTURES]
set -uo pipefail

chromium=$1
out=$2
zavprint=$3
zavarchive=$4
count=${5:-1000}
driver=$(cd "$(dirname "$0")" && pwd)/index_search.js
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for tool in "$chromium" node; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool not found (bash scripts/setup.sh installs it)"; exit 1; }
done

archive="$out/archive"
rm -rf "$archive" "$out/index-profile"
mkdir -p "$out/screenshots"
"$zavarchive" --folder "$archive" --captures "$count" --first-seed 501 >/dev/null ||
    { echo "FAIL: the archive cannot be made"; exit 1; }
for script in "$archive"/index-text-*.js; do
    node --check "$script" 2>"$out/node-check.log" || fail "$(basename "$script") is no valid JavaScript"
done

# A serial number printed by one capture (or by the few that share it), and
# words that many, all or none hold; letter case does not matter.
middle=$(ls "$archive"/printout-*.txt | sed -n "$((count / 2))p")
serial=$(grep -m1 -o 'Serial no\. [0-9]*' "$middle" | awk '{ print $3 }')
queries=("$serial" "analyzer" "RUN 043" "decay-curve run 042" "signature" "no-such-word" "sErIaL $serial")

mapfile -t lines < <(node "$driver" "$chromium" "$archive/index.html" "$out/index-profile" \
    --screenshot "$out/screenshots/index-search.png" "${queries[@]}" "$serial" 2>"$out/index-search.log")
echo "${lines[0]:-no answer from the browser}"
[ "$(cut -f3 <<<"${lines[0]:-}")" = "$count" ] || fail "the page does not show $count rows"
[ "$(cut -f4 <<<"${lines[0]:-}")" -gt 0 ] 2>/dev/null || fail "the page's words did not load"
i=1
for query in "${queries[@]}"; do
    IFS=$'\t' read -r typed shown ms found line last <<<"${lines[$i]:-}"
    i=$((i + 1))
    # shellcheck disable=SC2086
    want=$("$zavprint" search $query --folder "$archive" | cut -f1 | sort -u | wc -l)
    echo "\"$query\": $shown rows shown ($found), $want by zavprint search; ${ms} ms"
    [ "$typed" = "$query" ] || fail "no answer for \"$query\""
    [ "$shown" = "$want" ] || fail "\"$query\": $shown rows shown where $want captures hold it"
    if [ "$want" -gt 0 ]; then
        held=no
        for word in $query; do
            [[ $(tr 'A-Z' 'a-z' <<<"$line") == page\ [0-9]*:\ *"$(tr 'A-Z' 'a-z' <<<"$word")"* ]] &&
                held=yes
        done
        [ $held = yes ] || fail "\"$query\": the line shown holds none of the words: $line"
        [[ $last == page\ [0-9]*:\ * ]] || fail "\"$query\": the last row shows no line in view"
    fi
done
# The serial number's line is the one zavprint search names, page and all.
expected=$("$zavprint" search "$serial" --folder "$archive" | head -1 | cut -f3,4 |
    sed 's/^\([0-9]*\)\t/page \1: /')
grep -qxF "$expected" < <(cut -f5 <<<"${lines[$((${#queries[@]} + 1))]:-}") ||
    fail "the line shown for $serial is not \"$expected\""

[ "$(head -c 8 "$out/screenshots/index-search.png" 2>/dev/null | od -An -t x1 | tr -d ' ')" = \
    "89504e470d0a1a0a" ] || fail "no screenshot"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed; the driver's messages: $out/index-search.log"
    exit 1
fi
echo "The index page finds the captures zavprint search finds."
