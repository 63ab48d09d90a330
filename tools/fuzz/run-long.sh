#!/usr/bin/env bash
# Runs the renderer's fuzz target with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer for a long time: 10 million inputs unless told.
# Not part of the test run (it takes an hour or more on two cores); the ctest
# fuzz_render_smoke runs the same target briefly. TARGET=zav_fuzz_epson9
# runs the Epson 9-pin model's target instead (ctest fuzz_epson9_smoke), with
# its own corpus (BUILD_DIR/corpus-epson9) and logs (fuzz-long-epson9-N.log).
#
#   tools/fuzz/run-long.sh [RUNS] [BUILD_DIR]      (BUILD_DIR: build/fuzz)
#
# Needs clang with libFuzzer (packages clang-14 and libclang-rt-14-dev). The
# corpus grows in BUILD_DIR/corpus, findings land in BUILD_DIR/findings, and
# the logs, with libFuzzer's final statistics (inputs run, inputs per second),
# in BUILD_DIR/fuzz-long-N.log. WORKERS=N runs N fuzzers side by side;
# MAX_LEN sets the longest input (2048 bytes unless told: longer inputs find
# nothing new and cost more, wide bit images are in the unit tests). TIMEOUT
# sets the seconds one input may take before it counts as a hang (20 unless
# told; on a machine busy with other work a fuzzer at low priority can wait
# that long for the processor, so give it more there).
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-10000000}
build=${2:-build/fuzz}
target=${TARGET:-zav_fuzz_render}
name=${target#zav_fuzz_}
suffix=""
[ "$name" = render ] || suffix="-$name"
if ! command -v clang++ >/dev/null; then
    echo "run-long.sh: clang++ with libFuzzer is needed" >&2
    exit 2
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZAV_SANITIZE=ON -DZAV_BENCHMARKS=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target "$target" zavprintout

mkdir -p "$build/corpus$suffix" "$build/seeds" "$build/findings"
"$build/tools/printout/zavprintout" --pages 1 "$build/seeds/printout1.cpt" >/dev/null
"$build/tools/printout/zavprintout" --pages 3 "$build/seeds/printout3.cpt" >/dev/null
seeds=("$build/seeds")
samples=${ZAV_SAMPLES_DIR:-../shared/samples}
[ -d "$samples" ] && seeds+=("$samples")

# WORKERS processes (1 unless told) share the corpus and the runs.
workers=${WORKERS:-1}
start=$(date +%s)
pids=()
for w in $(seq 1 "$workers"); do
    ASAN_OPTIONS=detect_leaks=1:malloc_context_size=4:quarantine_size_mb=32 \
    UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/tools/fuzz/$target" -runs=$((runs / workers)) -max_len="${MAX_LEN:-2048}" \
        -timeout="${TIMEOUT:-20}" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/" \
        "$build/corpus$suffix" "${seeds[@]}" >"$build/fuzz-long$suffix-$w.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=$?
done
end=$(date +%s)
total=0
for w in $(seq 1 "$workers"); do
    log="$build/fuzz-long$suffix-$w.log"
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec)|Done [0-9]+ runs|ERROR|SUMMARY" "$log" || true
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    total=$((total + ${n:-0}))
done
secs=$((end - start))
echo "run-long.sh: $total inputs in $secs s ($((total / (secs > 0 ? secs : 1))) a second)," \
    "exit status $status; logs: $build/fuzz-long$suffix-*.log"
exit $status
