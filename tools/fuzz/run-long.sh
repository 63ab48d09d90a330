#!/usr/bin/env bash
# Runs the renderer's fuzz target with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer for a long time: 10 million inputs unless told.
# Not part of the test run (it takes an hour or more on two cores); the ctest
# fuzz_render_smoke runs the same target briefly.
#
#   tools/fuzz/run-long.sh [RUNS] [BUILD_DIR]      (BUILD_DIR: build/fuzz)
#
# Needs clang with libFuzzer (packages clang-14 and libclang-rt-14-dev). The
# corpus grows in BUILD_DIR/corpus, findings land in BUILD_DIR/findings, and
# the log, with libFuzzer's final statistics (inputs run, inputs per second),
# in BUILD_DIR/fuzz-long.log.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-10000000}
build=${2:-build/fuzz}
if ! command -v clang++ >/dev/null; then
    echo "run-long.sh: clang++ with libFuzzer is needed" >&2
    exit 2
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZAV_SANITIZE=ON -DZAV_BENCHMARKS=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target zav_fuzz_render zavprintout

mkdir -p "$build/corpus" "$build/seeds" "$build/findings"
"$build/tools/printout/zavprintout" --pages 1 "$build/seeds/printout1.cpt" >/dev/null
"$build/tools/printout/zavprintout" --pages 3 "$build/seeds/printout3.cpt" >/dev/null
seeds=("$build/seeds")
[ -d ../shared/samples ] && seeds+=(../shared/samples)

start=$(date +%s)
status=0
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/tools/fuzz/zav_fuzz_render" -runs="$runs" -max_len=8192 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/" \
    "$build/corpus" "${seeds[@]}" >"$build/fuzz-long.log" 2>&1 || status=$?
end=$(date +%s)
grep -E "^stat::|Done [0-9]+ runs|ERROR|SUMMARY" "$build/fuzz-long.log" || true
echo "run-long.sh: exit status $status after $((end - start)) s; log: $build/fuzz-long.log"
exit $status
