#!/usr/bin/env bash
# Runs the main job on the built-in example: generates a 3-page instrument
# printout as a capture file, renders it into its page bitmap and says where
# the bitmap is. Output folder: build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --native-only

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target zavprint zavprintout >/dev/null

out=build/example
mkdir -p "$out"
build/native/tools/printout/zavprintout --pages 3 "$out/example.cpt"
build/native/app/zavprint "$out/example.cpt"
echo "Page bitmap: $PWD/$out/example.bmp"
