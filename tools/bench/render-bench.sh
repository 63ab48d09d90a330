#!/usr/bin/env bash
# Render benchmark: speed against a plain write of the same size, peak memory
# of one long page, and the whole-process time of a one-page capture against
# the start-up floor; then the same for the Epson 9-pin model: text sheets
# against a plain write of their bitmaps, peak memory for 20 to 2000 sheets,
# and the whole process on the oscilloscope sample. Prints the figures;
# checks no target itself.
#
#   tools/bench/render-bench.sh [BUILD_DIR]      (BUILD_DIR: build/native)
#
# Needs zavprint, zavprintout and zav_render_bench built in BUILD_DIR, and GNU
# time (/usr/bin/time, package "time"). Works in a folder of its own made
# under WORK (BUILD_DIR unless told; /dev/shm measures the program rather than
# the disk) and removed at the end; nothing else in WORK is touched. The machine may be shared: the timings are medians
# of alternating runs. The oscilloscope sample is read from ZAV_SAMPLES_DIR
# (../shared/samples unless told); without it that part is left out.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/native}
zavprint=$build/cli/zavprint
printout=$build/tools/printout/zavprintout
bench=$build/tools/bench/zav_render_bench
for tool in "$zavprint" "$printout" "$bench" /usr/bin/time; do
    if [ ! -x "$tool" ]; then
        echo "render-bench.sh: $tool is missing" >&2
        exit 2
    fi
done
work=$(mktemp -d "${WORK:-$build}/zav-render-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== rendering against writing the same bytes into the same folder (medians)"
"$bench" --folder "$work" --repeat "${REPEAT:-15}"

echo "== peak memory of one page without form feeds (GNU time, maximum resident set)"
for pages in 2600 7800; do
    "$printout" --pages "$pages" "$work/long.raw" >/dev/null
    tr -d '\f' <"$work/long.raw" >"$work/long.cpt"
    rm "$work/long.raw"
    capture=$(stat -c %s "$work/long.cpt")
    rss=$(/usr/bin/time -v "$zavprint" "$work/long.cpt" 2>&1 >/dev/null |
        sed -n 's/.*Maximum resident set size (kbytes): //p')
    bitmap=$(stat -c %s "$work/long.bmp")
    awk -v c="$capture" -v r="$rss" -v b="$bitmap" 'BEGIN {
        printf "capture %.1f MiB, bitmap %.1f MiB: peak RSS %.1f MiB, %.1f MiB beyond the capture\n",
            c / 1048576, b / 1048576, r / 1024, r / 1024 - c / 1048576 }'
    rm -f "$work/long.cpt" "$work/long.bmp"
done

echo "== whole process on a one-page capture against the start-up floor"
"$printout" --pages 1 "$work/one.cpt" >/dev/null
"$bench" --process "$zavprint" "$work/one.cpt" --repeat "${PROCESS_REPEAT:-101}"

echo "== Epson 9-pin model: text sheets against writing as many sheet bitmaps (medians)"
"$bench" --epson9 --folder "$work" --repeat "${REPEAT:-15}" --sheets "${SHEETS:-20,200}"

echo "== Epson 9-pin model: peak memory by the number of sheets (GNU time, maximum resident set)"
for sheets in 20 200 2000; do
    "$bench" --write-text-sheets "$sheets" "$work/text.cpt"
    rss=$(/usr/bin/time -v "$zavprint" --printer=epson9 "$work/text.cpt" 2>&1 >/dev/null |
        sed -n 's/.*Maximum resident set size (kbytes): //p')
    awk -v n="$sheets" -v c="$(stat -c %s "$work/text.cpt")" -v r="$rss" 'BEGIN {
        printf "%d sheets (%.1f MiB of capture): peak RSS %.1f MiB\n", n, c / 1048576, r / 1024 }'
    rm -f "$work"/text*.bmp "$work/text.cpt"
done

scope=${ZAV_SAMPLES_DIR:-../shared/samples}/scope-tds-epson.esc_p
if [ -f "$scope" ]; then
    echo "== Epson 9-pin model: whole process on the oscilloscope sample against the start-up floor"
    cp "$scope" "$work/scope.cpt"
    "$bench" --process "$zavprint" "$work/scope.cpt" --printer epson9 \
        --repeat "${PROCESS_REPEAT:-101}"
fi
