#!/usr/bin/env bash
# What finding a printout costs in a large watch folder: the index page of an
# archive of 10,000 captures (generated printouts, made by zavarchive) opened
# from its folder in headless Chromium and searched by typing into its box,
# and `zavprint search` over the same folder. Prints medians and the load
# average; checks no target itself.
#
#   tools/archive/index-bench.sh [BUILD_DIR] [CAPTURES] [RUNS]
#       BUILD_DIR: build/native; CAPTURES: 10000; RUNS: 5 (browser), 4 * RUNS + 1 (search)
#   ARCHIVE=DIR uses (or keeps) the archive there instead of a new one on tmpfs.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/native}
count=${2:-10000}
runs=${3:-5}
zavprint=$build/cli/zavprint
zavarchive=$build/tools/archive/zavarchive
driver=tests/browser/index_search.js
chromium=$(command -v chromium || command -v chromium-browser || true)
for tool in "$zavprint" "$zavarchive"; do
    [ -x "$tool" ] || { echo "index-bench.sh: $tool is missing" >&2; exit 2; }
done
[ -n "$chromium" ] && command -v node >/dev/null ||
    { echo "index-bench.sh: chromium and node are needed" >&2; exit 2; }

work=$(mktemp -d /dev/shm/zav-index-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
archive=${ARCHIVE:-$work/archive}
if [ ! -e "$archive/index.html" ]; then
    echo "making $count captures in $archive ..."
    start=$EPOCHREALTIME
    "$zavarchive" --folder "$archive" --captures "$count" --first-seed 1 >/dev/null
    awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "made in %.0f s\n", e - s }'
fi
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
middle=$(ls "$archive"/printout-*.txt | sed -n "$((count / 2))p")
serial=$(grep -m1 -o 'Serial no\. [0-9]*' "$middle" | awk '{ print $3 }')
queries=("$serial" "run 043" "analyzer")

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== index page, $count rows, headless Chromium, $runs runs (fresh profile each)"
results=$work/browser.tsv
: >"$results"
for ((i = 0; i < runs; i++)); do
    rm -rf "$work/profile"
    node "$driver" "$chromium" "$archive/index.html" "$work/profile" "${queries[@]}" >>"$results"
done
printf '%-24s %8s ms (median)\n' "opened (load event)" \
    "$(awk -F'\t' '$1 == "open" { print $2 }' "$results" | median)"
printf '%-24s %8s ms (median)\n' "words loaded" \
    "$(awk -F'\t' '$1 == "open" { print $4 }' "$results" | median)"
for query in "${queries[@]}"; do
    shown=$(awk -F'\t' -v q="$query" '$1 == q { print $2; exit }' "$results")
    printf '%-24s %8s ms (median), %s rows shown\n' "search \"$query\"" \
        "$(awk -F'\t' -v q="$query" '$1 == q { print $3 }' "$results" | median)" "$shown"
done

echo "== zavprint search over the same folder, $((4 * runs + 1)) runs"
for query in "$serial" "run 043"; do
    times=""
    for ((i = 0; i < 4 * runs + 1; i++)); do
        start=$EPOCHREALTIME
        # shellcheck disable=SC2086
        "$zavprint" search $query --folder "$archive" >"$work/found" || true
        times+="$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f", (e - s) * 1000 }') "
    done
    printf '%-24s %8s ms (median), %s captures\n' "\"$query\"" \
        "$(tr ' ' '\n' <<<"$times" | grep . | median)" "$(cut -f1 "$work/found" | sort -u | wc -l)"
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
