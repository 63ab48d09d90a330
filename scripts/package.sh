#!/usr/bin/env bash
# Builds the packages a user installs, into build/packages:
#   zavprint_VERSION_amd64.deb   Linux: zavprint, its manual page, the licence,
#                                the udev rule that names the cable /dev/zavprint
#   RUDIRAVU-VERSION-win64.zip   Windows: RUDIRAVU.exe, the help file and the
#                                picture (when the build made them), README, licence
#
# Usage: scripts/package.sh [--no-build] [--out DIR] [deb] [zip]
#   deb, zip    the packages to make (default: both)
#   --no-build  package what build/native and build/win already hold
#   --out DIR   where the packages go (default: build/packages)
# ZAV_BUILD_NATIVE and ZAV_BUILD_WIN name other build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${ZAV_BUILD_NATIVE:-build/native}
win=${ZAV_BUILD_WIN:-build/win}
out=build/packages
build=1
kinds=()
while [ $# -gt 0 ]; do
    case "$1" in
    --no-build) build=0 ;;
    --out) out=$2; shift ;;
    --out=*) out=${1#--out=} ;;
    deb | zip) kinds+=("$1") ;;
    -h | --help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "package.sh: unknown argument $1 (see scripts/package.sh --help)" >&2; exit 2 ;;
    esac
    shift
done
[ ${#kinds[@]} -eq 0 ] && kinds=(deb zip)
mkdir -p "$out"
out=$(cd "$out" && pwd)

for kind in "${kinds[@]}"; do
    if [ "$kind" = deb ]; then
        if [ $build -eq 1 ]; then
            cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
            cmake --build "$native" -j"$(nproc)" --target zavprint zavprint_man
        fi
        (cd "$native" && cpack -G DEB -B "$out")
    else
        if [ $build -eq 1 ]; then
            cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
                -DCMAKE_BUILD_TYPE=Release -DZAV_BENCHMARKS=OFF >/dev/null
            # All of it: the help file and the picture are targets of their own.
            cmake --build "$win" -j"$(nproc)"
        fi
        (cd "$win" && cpack -G ZIP -B "$out")
    fi
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
