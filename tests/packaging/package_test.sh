#!/usr/bin/env bash
# Makes one package from an existing build with scripts/package.sh and checks
# it as a user receives it.
#   deb: extracted with dpkg-deb -x, the extracted zavprint --version runs,
#        man -l reads the manual page, the licence is in, and the udev rule
#        matches the cable's product text in any case;
#   zip: its contents are listed; both programs, README.txt and LICENSE.txt are
#        in, and the help file and the picture whenever the build made them.
# Usage: package_test.sh deb|zip BUILD_DIR
set -euo pipefail
kind=$1
build=$(cd "$2" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if ! ZAV_BUILD_NATIVE=$build ZAV_BUILD_WIN=$build \
    bash "$source/scripts/package.sh" --no-build --out "$work/out" "$kind" >"$work/log" 2>&1; then
    cat "$work/log"
    fail "scripts/package.sh $kind"
fi

if [ "$kind" = deb ]; then
    deb=$(echo "$work"/out/zavprint_*_amd64.deb)
    [ -f "$deb" ] || fail "no .deb in $(ls "$work/out")"
    dpkg-deb -c "$deb"
    dpkg-deb -x "$deb" "$work/root"
    version=$("$work/root/usr/bin/zavprint" --version | head -n 1)
    echo "$version"
    [ "$version" = "zavprint $(dpkg-deb -f "$deb" Version)" ] || fail "zavprint --version: $version"
    page=$(MANPAGER=cat PAGER=cat MANWIDTH=80 man -l "$work/root/usr/share/man/man1/zavprint.1.gz")
    echo "$page" | head -20
    for want in "zavprint - capture and render" SYNOPSIS "zavprint capture" --idle-stop=SECONDS \
        OPTIONS --version "$version"; do
        grep -qF -- "$want" <<<"$page" || fail "the manual page lacks: $want"
    done
    rule="$work/root/usr/lib/udev/rules.d/60-zavprint.rules"
    for want in 'ATTRS{idVendor}=="0403"' 'SYMLINK+="zavprint"' 'GROUP="dialout"'; do
        grep -qF "$want" "$rule" || fail "the udev rule lacks: $want"
    done
    # udev matches a glob as the shell does: the product text in any case,
    # and nothing more.
    product=$(sed -n 's/.*ATTRS{product}=="\([^"]*\)".*/\1/p' "$rule")
    for text in "ZAV Print" "zav print" "ZAV PRINT" "zAv pRiNt"; do
        # shellcheck disable=SC2053
        [[ $text == $product ]] || fail "the udev rule does not match the product \"$text\""
    done
    for text in "ZAV Printer" "ZAV  Print" "XAV Print" "ZAV Print " ""; do
        # shellcheck disable=SC2053
        if [[ $text == $product ]]; then
            fail "the udev rule matches the product \"$text\""
        fi
    done
    cmp "$source/LICENSE" "$work/root/usr/share/doc/zavprint/copyright" || fail "licence"
    for unit in "$source"/packaging/systemd/*.service; do
        [ -e "$unit" ] || continue
        [ -f "$work/root/usr/lib/systemd/system/$(basename "$unit")" ] || fail "unit $unit"
    done
    dpkg-deb -e "$deb" "$work/control"
    [ -x "$work/control/postinst" ] || fail "postinst"
else
    zip=$(echo "$work"/out/RUDIRAVU-*-win64.zip)
    [ -f "$zip" ] || fail "no ZIP in $(ls "$work/out")"
    listing=$(cmake -E tar tf "$zip")
    echo "$listing"
    folder=$(basename "$zip" .zip)
    for name in RUDIRAVU.exe zavprint.exe README.txt LICENSE.txt VOVEzeraEn.chm vovezera.bmp; do
        if grep -qxF "$folder/$name" <<<"$listing"; then
            continue
        elif [ "$name" = VOVEzeraEn.chm ] || [ "$name" = vovezera.bmp ]; then
            [ -f "$build/app/$name" ] && fail "$name is in the build but not in the ZIP"
            echo "not made by this build, so not in the ZIP: $name"
        else
            fail "the ZIP lacks $name"
        fi
    done
fi
echo "package $kind: good"
