#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, where it is missing.
set -euo pipefail
# help2man makes the manual page; dpkg-dev and file make the .deb, man-db
# reads its manual page in the package test; chromium, poppler-utils and qpdf
# check the report and the PDF with real tools (nodejs drives chromium through the index
# page's search box); zlib reads back in the tests what the PDF writer compressed.
# libgcrypt hashes and signs the records (static for Windows); the record tests
# check them with sha256sum (coreutils) and openssl. imagemagick makes the
# pictures in docs/ (scripts/make-docs-pictures.sh).
native=(cmake g++ make libgtest-dev libbenchmark-dev socat zlib1g-dev help2man man-db dpkg-dev file
        poppler-utils qpdf libgcrypt20-dev coreutils openssl)
pkgs=("${native[@]}" g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libgcrypt-mingw-w64-dev
      libgpg-error-mingw-w64-dev wine64 xvfb xauth chromium nodejs fp-utils imagemagick)
[ "${1:-}" = "--native-only" ] && pkgs=("${native[@]}")
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
