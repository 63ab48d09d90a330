#!/usr/bin/env bash
# What the text file and the PDF cost `zavprint finish`: the generated
# 1000-page printout finished into an empty folder on tmpfs, the variants run
# in alternation (each round runs every variant once, so that a change in the
# machine's load falls on all of them alike), and the median time of each
# with its cost against the variant before it: finishing without the text
# file, with it (the default), and with the PDF as well. The cost is given
# twice: as the ratio of the two medians, and as the median of the ratios of
# each round's pair (the two runs of a pair follow each other, so a change of
# load between rounds cancels out). Prints the figures and the load average;
# checks no target itself.
#
#   tools/bench_finish/finish-cli-bench.sh [BUILD_DIR] [ROUNDS] [PAGES]
#       BUILD_DIR: build/native; ROUNDS: 21; PAGES: 1000
#   VARIANTS="plain: pdf:--pdf" ... picks other variants (NAME:OPTIONS).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/native}
rounds=${2:-21}
pages=${3:-1000}
zavprint=$build/cli/zavprint
printout=$build/tools/printout/zavprintout
for tool in "$zavprint" "$printout"; do
    [ -x "$tool" ] || { echo "finish-cli-bench.sh: $tool is missing" >&2; exit 2; }
done
read -r -a variants <<<"${VARIANTS:-notext:--no-text text: pdf:--pdf}"
work=$(mktemp -d /dev/shm/zav-finish-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$printout" --pages "$pages" "$work/run.raw" >/dev/null

# Milliseconds one finish takes, into a fresh folder.
run_once() {
    local options=$1 start end
    rm -rf "$work/out"
    mkdir "$work/out"
    start=$EPOCHREALTIME
    # shellcheck disable=SC2086
    "$zavprint" finish "$work/run.raw" --name run --folder "$work/out" $options >/dev/null
    end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", (e - s) * 1000 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for v in "${variants[@]}"; do run_once "${v#*:}" >/dev/null; done # warm the caches
declare -A times
for ((i = 0; i < rounds; i++)); do
    for v in "${variants[@]}"; do
        times[$v]+="$(run_once "${v#*:}") "
    done
done
before=""
previous=""
for v in "${variants[@]}"; do
    m=$(tr ' ' '\n' <<<"${times[$v]}" | grep . | median)
    if [ -z "$before" ]; then
        printf '%-8s %8.1f ms                       (%s)\n' "${v%%:*}" "$m" "${v#*:}"
    else
        paired=$(paste <(tr ' ' '\n' <<<"${times[$v]}" | grep .) \
            <(tr ' ' '\n' <<<"${times[$previous]}" | grep .) |
            awk '{ print ($1 / $2 - 1) * 100 }' | median)
        awk -v n="${v%%:*}" -v m="$m" -v r="$before" -v o="${v#*:}" -v p="$paired" \
            'BEGIN { printf "%-8s %8.1f ms  %+6.1f%%  pairs %+6.1f%%  (%s; against the line above)\n", n, m, (m / r - 1) * 100, p, o }'
    fi
    before=$m
    previous=$v
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
