#!/usr/bin/env bash
# Runs the main job on the built-in example: generates a 3-page instrument
# printout as a raw recording (the bytes the print cable delivers), finishes
# it as a capture session does (one capture file and one page bitmap per page,
# then the HTML report) and says where the report is. Output folder:
# build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --native-only

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target zavprint zavprintout >/dev/null

out=build/example
mkdir -p "$out"
build/native/tools/printout/zavprintout --pages 3 "$out/recording.raw"
build/native/app/zavprint finish "$out/recording.raw" --folder "$out" --name example
echo "Report: $PWD/$out/example.html"
