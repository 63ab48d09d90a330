#!/usr/bin/env bash
# Makes the pictures at the top of README.md again:
#   docs/main-dialog.png    the Windows program's main dialog, as the GUI test
#                           under Wine photographs it
#                           (build/win/tests/dialogs/screenshots/vovezera.bmp);
#   docs/rendered-page.png  page 1 of the built-in example printout, dot for dot
#                           (build/example/example001.bmp, from scripts/example.sh);
#   docs/scope-epson9.png   the oscilloscope sample as the Epson 9-pin model's
#                           sheet, dot for dot (zavprint --printer=epson9 on a
#                           copy of ../shared/samples/scope-tds-epson.esc_p, or
#                           of ZAV_SAMPLES_DIR's).
#   docs/index-search.png   the index page of a watch folder of 40 generated
#                           printouts, narrowed by typing "run 043" into its search
#                           box (headless Chromium; needs build/native's zavarchive
#                           and Node).
# The example is made here when it is missing; the screenshot comes from the
# Windows tests:
#   bash scripts/test.sh     (or: xvfb-run -a ctest --test-dir build/win -R dialogs_gui)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v convert >/dev/null || { echo "ImageMagick's convert is missing (apt-get install imagemagick)" >&2; exit 1; }

# The oscilloscope's screen on an Epson 9-pin sheet, when the samples are there.
scope=${ZAV_SAMPLES_DIR:-../shared/samples}/scope-tds-epson.esc_p
if [ -f "$scope" ]; then
    [ -x build/native/cli/zavprint ] || bash scripts/example.sh >/dev/null
    mkdir -p build/example docs
    cp "$scope" build/example/scope-tds-epson.cpt
    build/native/cli/zavprint --printer=epson9 build/example/scope-tds-epson.cpt >/dev/null
    convert build/example/scope-tds-epson.bmp -bordercolor "#a0a0a0" -border 1 -strip \
        docs/scope-epson9.png
    identify docs/scope-epson9.png
else
    echo "no $scope: docs/scope-epson9.png stays as it is" >&2
fi

dialog=build/win/tests/dialogs/screenshots/vovezera.bmp
page=build/example/example001.bmp
if [ ! -f "$dialog" ]; then
    echo "$dialog is missing: run the Windows GUI test first" >&2
    echo "  (bash scripts/test.sh, or xvfb-run -a ctest --test-dir build/win -R dialogs_gui)" >&2
    exit 1
fi
[ -f "$page" ] || bash scripts/example.sh >/dev/null

mkdir -p docs
# -strip drops the time stamps, so the same picture gives the same bytes.
convert "$dialog" -strip docs/main-dialog.png
# A thin grey frame shows where the paper ends on a white page.
convert "$page" -bordercolor "#a0a0a0" -border 1 -strip docs/rendered-page.png
archive=$(mktemp -d)
trap 'rm -rf "$archive"' EXIT
build/native/tools/archive/zavarchive --folder "$archive/folder" --captures 40 --first-seed 9 >/dev/null
node tests/browser/index_search.js chromium "$archive/folder/index.html" "$archive/profile" \
    --screenshot "$archive/search.png" "run 043" >/dev/null
convert "$archive/search.png" -strip docs/index-search.png
identify docs/main-dialog.png docs/rendered-page.png docs/index-search.png
