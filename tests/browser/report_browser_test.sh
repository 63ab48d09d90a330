#!/usr/bin/env bash
# Opens finished reports in headless Chromium, as a user does, and checks what
# the browser makes of them:
#   - every image of the report decodes, at the width and height of its page
#     bitmap, and the report shows exactly the bitmaps of its capture, in order;
#     an empty sheet (a bitmap without dots) shows as a note, not as an image;
#   - printed to PDF, every page bitmap gets a sheet of its own: as many sheets
#     as bitmaps, one image on each (none on an empty sheet), page 1 on sheet 1
#     and so on;
#   - a screenshot of each report goes to OUTDIR/screenshots/NAME.png.
#
#   report_browser_test.sh CHROMIUM OUTDIR ZAVPRINT ZAVPRINTOUT
#       makes a 3-page capture, a single-file capture and one whose printout
#       begins with a form feed (an empty first sheet, as real instruments
#       print) with the printout generator and `zavprint finish` in OUTDIR,
#       then checks the reports;
#   report_browser_test.sh CHROMIUM OUTDIR --check REPORT.html...
#       checks reports that exist already.
#
# The bitmaps a report should show are found beside it by name (NAME001.bmp,
# NAME002.bmp, ... or else NAME.bmp), not taken from the report.
set -uo pipefail

chromium=$1
out=$2
shift 2
probe=$(cd "$(dirname "$0")" && pwd)/probe.html
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for tool in "$chromium" pdfinfo pdfimages; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool not found (bash scripts/setup.sh installs it)"; exit 1; }
done

mkdir -p "$out/screenshots"
profile="$out/chromium-profile"
rm -rf "$profile"

# One headless browser run with a private profile. Runs as root in CI, where
# Chromium refuses its sandbox; it only ever opens the test's own local files.
browser() {
    timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
        --no-first-run --hide-scrollbars --user-data-dir="$profile" "$@" 2>>"$out/chromium.log"
}

# The width and height in a BMP header (a negative height means top-down rows);
# "empty" for a bitmap without dots, "not-a-bitmap" when the file does not
# start like one.
bmp_size() {
    local w=0 h=0
    if [ "$(od -An -c -N 2 "$1" | tr -d " ")" = "BM" ]; then
        read -r w h < <(od -An -t d4 -j 18 -N 8 "$1")
        if [ "${w:-0}" -eq 0 ] || [ "${h:-0}" -eq 0 ]; then
            echo "empty"
            return
        fi
    fi
    if [ "${w:-0}" -gt 0 ] && [ "${h:-0}" -ne 0 ]; then
        echo "$w ${h#-}"
    else
        echo "not-a-bitmap"
    fi
}

# TEXT with the characters that mean something in a URL or its query escaped
# (a build path may hold spaces).
escape() {
    sed -e 's/%/%25/g' -e 's/ /%20/g' -e 's/#/%23/g' -e 's/?/%3F/g' -e 's/&/%26/g' \
        -e 's/+/%2B/g' <<<"$1"
}

# The page bitmaps beside REPORT.html, in page order.
expected_bitmaps() {
    local base=${1%.html} n=1 name
    if [ -e "${base}001.bmp" ]; then
        while name=$(printf '%s%03d.bmp' "$base" "$n") && [ -e "$name" ]; do
            echo "$name"
            n=$((n + 1))
        done
    elif [ -e "$base.bmp" ]; then
        echo "$base.bmp"
    fi
}

check_report() {
    local report name url bitmaps=() b want got
    report=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    name=$(basename "$report" .html)
    url="file://$(escape "$report")"
    mapfile -t bitmaps < <(expected_bitmaps "$report")
    echo "== $name.html: ${#bitmaps[@]} page bitmap(s)"
    if [ ${#bitmaps[@]} -eq 0 ]; then
        fail "$name: no page bitmaps beside the report"
        return
    fi

    # 1. The images as the browser decoded them.
    want=""
    for b in "${bitmaps[@]}"; do
        [ "$(bmp_size "$b")" != not-a-bitmap ] || fail "$name: $(basename "$b") is not a bitmap"
        [ "$(bmp_size "$b")" = empty ] ||
            want+="image $(basename "$b") true $(bmp_size "$b")"$'\n'
    done
    want+="end"
    got=$(browser --allow-file-access-from-files --dump-dom \
        "file://$(escape "$probe")?report=$(escape "$url")" |
        awk '/<pre id="images">/ { on = 1 } on { print } on && /<\/pre>/ { exit }' |
        sed -e 's/<[^>]*>//g')
    if [ "$got" != "$want" ]; then
        fail "$name: the images the browser shows are not the page bitmaps"
        echo "  expected (src complete width height):"
        sed 's/^/    /' <<<"$want"
        echo "  browser:"
        sed 's/^/    /' <<<"${got:-<nothing>}"
    fi

    # 2. Printed: one sheet per page bitmap, holding that bitmap and nothing
    # else; the same run takes the screenshot of what the user sees first.
    local pdf="$out/$name.pdf" shot="$out/screenshots/$name.png" sheets n=1
    rm -f "$pdf" "$shot"
    browser --no-pdf-header-footer --print-to-pdf="$pdf" \
        --window-size=800,1200 --screenshot="$shot" "$url" >/dev/null
    if [ ! -s "$pdf" ]; then
        fail "$name: no PDF printed"
    else
        sheets=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
        [ "$sheets" = "${#bitmaps[@]}" ] ||
            fail "$name: printed on ${sheets:-?} sheet(s) for ${#bitmaps[@]} page bitmap(s)"
        want=""
        for b in "${bitmaps[@]}"; do
            [ "$(bmp_size "$b")" = empty ] || want+="$n $(bmp_size "$b")"$'\n'
            n=$((n + 1))
        done
        got=$(pdfimages -list "$pdf" | awk 'NR > 2 && $3 == "image" { print $1, $4, $5 }')
        if [ "$got"$'\n' != "$want" ]; then
            fail "$name: the printed sheets do not hold one page bitmap each"
            echo "  expected (sheet width height):"
            sed 's/^/    /' <<<"${want%$'\n'}"
            echo "  PDF:"
            sed 's/^/    /' <<<"${got:-<no images>}"
        fi
    fi

    [ "$(head -c 8 "$shot" 2>/dev/null | od -An -t x1 | tr -d ' ')" = "89504e470d0a1a0a" ] ||
        fail "$name: no screenshot"
}

if [ "${1:-}" = "--check" ]; then
    shift
    for report in "$@"; do
        check_report "$report"
    done
else
    zavprint=$1
    zavprintout=$2
    captures="$out/captures"
    rm -rf "$captures"
    mkdir -p "$captures"
    "$zavprintout" --pages 3 --seed 7 "$captures/three.raw" >/dev/null &&
        "$zavprint" finish "$captures/three.raw" --folder "$captures" --name pages >/dev/null ||
        fail "cannot make the 3-page capture"
    "$zavprintout" --pages 1 --seed 11 "$captures/one.raw" >/dev/null &&
        "$zavprint" finish "$captures/one.raw" --folder "$captures" --name single --single-file \
            >/dev/null || fail "cannot make the single-file capture"
    { printf '\f' && cat "$captures/three.raw"; } >"$captures/blank-first.raw" &&
        "$zavprint" finish "$captures/blank-first.raw" --folder "$captures" --name blank \
            >/dev/null || fail "cannot make the capture that begins with a form feed"
    check_report "$captures/pages.html"
    check_report "$captures/single.html"
    check_report "$captures/blank.html"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed; Chromium's messages: $out/chromium.log"
    exit 1
fi
echo "All reports display and print as they should."
