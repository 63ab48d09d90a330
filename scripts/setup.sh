#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, where it is missing.
set -euo pipefail
pkgs=(cmake g++ make libgtest-dev libbenchmark-dev zlib1g-dev poppler-utils qpdf
      g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 xvfb xauth socat)
[ "${1:-}" = "--native-only" ] && pkgs=(cmake g++ make libgtest-dev libbenchmark-dev zlib1g-dev
                                        poppler-utils qpdf socat)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
