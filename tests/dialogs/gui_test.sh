#!/bin/sh
# The four dialogs of RUDIRAVU.exe under Wine, worked through guidriver:
#   gui_test.sh PREFIX WINE-RUN RUDIRAVU.exe guidriver.exe ftd2xx.dll SHOTS-DIR PICTURE [HELP.chm]
# The fake ftd2xx.dll beside the program reports the devices that the file
# named by ZAV_FTD2XX_CONFIG lists; COM5 is a pty. PICTURE is vovezera.bmp,
# which the cable-not-found dialog shows when it lies beside the program. Screenshots of the dialogs
# go to SHOTS-DIR. Every wait is bounded and everything started here is
# stopped here.
set -u
prefix=$1 winerun=$2 app=$3 driver=$4 ftd2xx=$5 shots=$6 picture=$7 helpfile=${8:-}
work=$(mktemp -d /tmp/zavdialogs.XXXXXX)
pids=""
apppid=""
status=0
key='HKCU\Software\Tellimar\VOVEzera\Settings'

cleanup() {
    [ -n "$apppid" ] && kill "$apppid" 2>/dev/null
    # The Wine server took COM5's pty as its terminal: let it end before the
    # pty goes, or the hang-up makes it dump its objects.
    WINEPREFIX="$prefix" timeout 30 /usr/lib/wine/wineserver -w 2>/dev/null
    for p in $pids; do kill "$p" 2>/dev/null; done
    for p in $apppid $pids; do wait "$p" 2>/dev/null; done
    [ -L "$prefix/dosdevices/com5" ] && rm -f "$prefix/dosdevices/com5"
    rm -rf "$prefix/drive_c/zavfolder"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

wine() { timeout 60 "$winerun" "$prefix" "$@"; }
drive() { timeout 90 "$winerun" "$prefix" "$driver" "$@"; }
fail() {
    echo "FAIL: $*" >&2
    status=1
}
# Writes the fake driver's device list.
devices() { printf '%s\n' "$@" >"$work/ftd2xx.cfg"; }

start_app() {
    "$winerun" "$prefix" "$work/RUDIRAVU.exe" &
    apppid=$!
}
# Waits (at most 20 s) for the program to end by itself.
app_ended() {
    n=0
    while kill -0 "$apppid" 2>/dev/null; do
        n=$((n + 1))
        if [ $n -gt 100 ]; then
            kill "$apppid" 2>/dev/null
            wait "$apppid" 2>/dev/null
            apppid=""
            return 1
        fi
        sleep 0.2
    done
    wait "$apppid" 2>/dev/null
    apppid=""
    return 0
}
reg_get() {
    wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_SZ *//p"
}
reg_set() { wine reg add "$key" /v "$1" /d "$2" /f >/dev/null 2>&1; }

mkdir -p "$shots"
wine "$driver" sleep 1 || { echo "Wine does not start" >&2; exit 1; }
# No window manager runs under Xvfb: let Wine draw the captions itself so the
# screenshots show them.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cp "$app" "$ftd2xx" "$picture" "$work/"
winpicture="Z:$(printf '%s' "$work/vovezera.bmp" | tr / '\\')"
mkdir -p "$prefix/drive_c/zavfolder/sub"
socat "pty,raw,echo=0,link=$work/com5" "pty,raw,echo=0,link=$work/far5" &
pids="$pids $!"
n=0
while [ ! -e "$work/com5" ]; do
    n=$((n + 1))
    [ $n -gt 100 ] && { echo "socat made no pty" >&2; exit 1; }
    sleep 0.05
done
ln -sfn "$work/com5" "$prefix/dosdevices/com5"
ZAV_FTD2XX_CONFIG="Z:$(printf '%s' "$work/ftd2xx.cfg" | tr / '\\')"
export ZAV_FTD2XX_CONFIG

notfound="ZAV Print cable not found or in use"
farewell="Thank you for using ZAV Print Utility. Have a nice day and goodbye."

echo "== no cable, Retry once the cable is there, the main dialog, About, Close"
reg_set CaptureFolder 'C:\old'
reg_set CaptureFilename old
reg_set SingleFile 1
devices "count 0"
start_app
# The picture beside the program (the program runs in another folder) shows
# at its own size in the middle of its field; Ctrl+C copies it.
size=$(drive wait "ZAV Print Utility" 60000 expect 1001 "$notfound" \
    picture 1002 "$winpicture" shot "$shots/cablenotfound.bmp" | tr -d '\r') ||
    fail "the cable-not-found dialog did not appear with its picture"
clip=$(drive wait "ZAV Print Utility" char 1002 3 clipbitmap | tr -d '\r')
[ -n "$size" ] && [ "$clip" = "$size" ] ||
    fail "Ctrl+C left \"$clip\" on the clipboard, not the picture of $size"
devices "device 5 0 0 ZAV Print"
drive wait "ZAV Print Utility" click 4 \
    waitfor "Single file" 30000 expect 1001 'C:\old' expect 1002 old \
    settext 1001 'C:\captures' settext 1002 run1 click 1007 sleep 300 \
    shot "$shots/vovezera.bmp" || fail "Retry did not lead to the main dialog"
# Start, Stop and View with no instrument and no browser: the dialog stays,
# usable, with what the user typed.
drive waitfor "Single file" click 1011 sleep 300 click 1012 sleep 300 click 1015 sleep 300 \
    waitfor "Single file" expect 1001 'C:\captures' expect 1002 run1 enabled 1011 >/dev/null ||
    fail "the main dialog's buttons broke it"
# Help without the help file beside the program: a message, and the dialog stays.
drive waitfor "Single file" click 1013 waitfor "Help file not installed" click 1 sleep 300 \
    waitfor "Single file" expect 1001 'C:\captures' ||
    fail "Help without the help file did not say so"
if [ -n "$helpfile" ] && [ -f "$helpfile" ]; then
    cp "$helpfile" "$work/"
    drive waitfor "Single file" click 1013 wait "ZAV Print Utility Help" 60000 sleep 2000 \
        shot "$shots/help.bmp" close gone "ZAV Print Utility Help" 20000 ||
        fail "Help with the help file beside the program opened no help window"
else
    fail "no help file was built to try Help with"
fi
# "...": the shell's folder dialog on the current folder, even one that is
# gone; its status line shows the selection. Cancel keeps the folder, also
# after another one was selected; OK stores the one chosen. (Left selects the
# parent in the folder tree, whose control ids are Wine's.)
tree=14145 shown=14147
# A failed step must not leave the folder dialog over the main dialog.
no_browser() { drive wait "Browse for Folder" 1000 click 2 gone "Browse for Folder" >/dev/null 2>&1; }
# Opens the folder dialog from the Folder field set to $1 and waits until the
# dialog has selected that folder. Wine's folder dialog now and then ignores
# a process's first request to select a folder: then Cancel and ask again.
browse_on() {
    for try in 1 2 3; do
        drive waitfor "Single file" settext 1001 "$1" click 1 wait "Browse for Folder" \
            expect $shown "$1" 5000 >/dev/null 2>&1 && return 0
        echo "the folder dialog did not select $1 (try $try)"
        no_browser
    done
    return 1
}
browse_on 'C:\zavfolder\sub' &&
    drive wait "Browse for Folder" sleep 300 shot "$shots/folder.bmp" \
        key $tree 37 expect $shown 'C:\zavfolder' click 2 gone "Browse for Folder" \
        waitfor "Single file" expect 1001 'C:\zavfolder\sub' ||
    { fail "the folder dialog did not open on the folder, or Cancel changed it"; no_browser; }
drive waitfor "Single file" settext 1001 'C:\no\such\folder' click 1 wait "Browse for Folder" \
    click 2 gone "Browse for Folder" waitfor "Single file" expect 1001 'C:\no\such\folder' ||
    { fail "no folder dialog for a folder that does not exist, or Cancel changed it"; no_browser; }
browse_on 'C:\zavfolder\sub' &&
    drive wait "Browse for Folder" key $tree 37 expect $shown 'C:\zavfolder' \
        click 1 gone "Browse for Folder" waitfor "Single file" expect 1001 'C:\zavfolder' ||
    { fail "the folder chosen in the folder dialog did not reach the Folder field"; no_browser; }
checked=$(drive waitfor "Single file" checked 1007 | tr -d '\r')
[ "$checked" = 0 ] || fail "the check box did not clear: $checked"
# About: the version record's version and the Windows name with the build
# that Wine's registry reports.
build=$(wine reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentBuild \
    2>/dev/null | tr -d '\r' | sed -n 's/^ *CurrentBuild *REG_SZ *//p')
winver=$(drive waitfor "Single file" menu 1010 wait "About ZAV Print Utility" \
    expect 1001 "ZAV Print Utility" expect 1003 Version expect 1004 1.0.0.5 text 1022 \
    sleep 300 shot "$shots/about.bmp" click 2 gone "About ZAV Print Utility" | tr -d '\r') ||
    fail "the menu's About did not open and close the About dialog with the version"
echo "About: $winver"
case "$winver" in
Microsoft\ Windows*"(Build $build)") ;;
*) fail "About names \"$winver\", not a Windows with build \"$build\"" ;;
esac
drive waitfor "Single file" click 2 waitfor "$farewell" click 1 ||
    fail "Close did not say goodbye"
app_ended || fail "the program did not end after Close"
[ "$(reg_get CaptureFolder)" = 'C:\zavfolder' ] || fail "CaptureFolder: $(reg_get CaptureFolder)"
[ "$(reg_get CaptureFilename)" = run1 ] || fail "CaptureFilename: $(reg_get CaptureFilename)"
[ "$(reg_get SingleFile)" = 0 ] || fail "SingleFile: $(reg_get SingleFile)"
# Where the dialogs stood is kept for the next run.
for name in VOVEZERA CABLENOTFOUND ABOUT; do
    wine reg query "$key\\Positions" /v $name 2>/dev/null | tr -d '\r' |
        grep -Eq "$name +REG_SZ +-?[0-9]+,-?[0-9]+" || fail "no saved position of $name"
done

echo "== the port list from the cable-not-found dialog, without the picture"
rm -f "$work/vovezera.bmp"
devices "count 0"
start_app
drive wait "ZAV Print Utility" 60000 expect 1001 "$notfound" blank 1002 ||
    fail "no cable-not-found dialog with an empty field"
devices "device 5 0 0 ZAV Print"
rows=$(drive wait "ZAV Print Utility" click 1020 wait Ports 60000 expect 1001 "" 60000 \
    list 1021 shot "$shots/portlist.bmp" click 2 gone Ports | tr -d '\r')
echo "$rows"
printf '%s\n' "$rows" | grep -qx 'Com5     ZAV Print' || fail "the port list lacks Com5 with its cable"
app_ended || fail "the program did not end after the port list"

echo "== Retry and Close with a broken picture"
head -c 3000 "$picture" >"$work/vovezera.bmp"
devices "count 0"
start_app
drive wait "ZAV Print Utility" 60000 expect 1001 "$notfound" blank 1002 click 4 sleep 500 \
    wait "ZAV Print Utility" 60000 expect 1001 "$notfound" blank 1002 click 1 ||
    fail "no usable cable-not-found dialog with a broken picture"
app_ended || fail "the program did not end after Close"

for f in "$shots"/*.bmp; do
    [ -f "$f" ] && command -v convert >/dev/null && convert "$f" "${f%.bmp}.png" 2>/dev/null
done
[ $status = 0 ] && echo "all dialog checks passed"
exit $status
