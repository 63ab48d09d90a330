#!/usr/bin/env bash
# Runs the main job as a real capture session on the built-in example: the
# instrument simulator prints a 3-page printout into a pseudo-terminal,
# `zavprint capture` records it and stops by itself once the printout is over,
# then makes one capture file and one page bitmap per page and the HTML report.
# Output folder: build/example/. Settings go to build/example/config, not to
# the user's own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --native-only

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target zavprint zavsim >/dev/null

out=build/example
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d /tmp/zavexample.XXXXXX)
sim=""
cleanup() {
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The instrument with its print cable at the far end of a pseudo-terminal; it
# prints when the trigger file appears, as when someone presses Print on it.
build/native/tools/simulator/zavsim --pty "$work/cable" --example --rate 92160 \
    --trigger "$work/print" >/dev/null &
sim=$!
for _ in $(seq 100); do
    [ -e "$work/cable" ] && break
    sleep 0.05
done
[ -e "$work/cable" ] || { echo "the simulator made no line" >&2; exit 1; }

# Press Print on the instrument once the capture is waiting for it.
(sleep 0.5 && touch "$work/print") &
XDG_CONFIG_HOME="$PWD/$out/config" timeout 60 build/native/cli/zavprint capture \
    --port "$work/cable" --folder "$out" --name example --pages --idle-stop 2 </dev/null
echo "Report: $PWD/$out/example.html"
