#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. native build (portable core, Linux program, tools) and its tests;
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows cross build and its tests under Wine (and Xvfb for windows).
# Build folders: build/native, build/asan, build/win.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
status=0

echo "== native build"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$jobs"
echo "== native tests"
ctest --test-dir build/native --output-on-failure --timeout 300 -j"$jobs" || status=1

echo "== sanitizer build"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DZAV_SANITIZE=ON -DZAV_BENCHMARKS=OFF >/dev/null
cmake --build build/asan -j"$jobs"
echo "== sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure --timeout 300 -j"$jobs" || status=1

echo "== windows build"
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DZAV_BENCHMARKS=OFF >/dev/null
cmake --build build/win -j"$jobs"
echo "== windows tests (Wine)"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build/win --output-on-failure --timeout 600 || status=1
WINEPREFIX="$PWD/build/win/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true

if [ $status -ne 0 ]; then
    echo "Some tests failed."
    exit 1
fi
echo "All test sets passed."
